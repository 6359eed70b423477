#include "ServiceTestSupport.h"

#include "sync/Sonarbox.h"

void ServiceFixture::SetUp() {
    // First, so that a fixture that chose its preferences file before
    // calling this gets a coordinator built from it.
    Sonarbox::instance().reinitialize();
    GatewayFixture::SetUp();
}

void ServiceFixture::TearDown() {
    GatewayFixture::TearDown();
    Sonarbox::instance().reinitialize();
}
