#include "AccountsFixture.h"

#include "store/SecretStore.h"
#include "store/StoreSetup.h"

void AccountsFixture::SetUp() {
    ServiceFixture::SetUp();
    StoreSetup::setStoreFolder(storeDir.path());
    SecretStore::instance().reset();
}

void AccountsFixture::TearDown() {
    StoreSetup::setStoreFolder({});
    ServiceFixture::TearDown();
}
