#include "ServiceTestSupport.h"

#include "engine/Sonarbox.h"
#include "sync/DownloadSongsFromCloud.h"

void ServiceFixture::SetUp() {
    // First, so that a fixture that chose its preferences file before
    // calling this gets a coordinator built from it.
    Sonarbox::instance().reinitialize();
    GatewayFixture::SetUp();
    // The coordinator's requests go where the fixture's do, with its limits.
    Sonarbox::instance().serviceClient() = client;
}

void ServiceFixture::TearDown() {
    GatewayFixture::TearDown();
    Sonarbox::instance().serviceClient() = ServiceClient();
    Sonarbox::instance().reinitialize();
}

bool ServiceFixture::listCloudLibrary(SyncRun &run) {
    DownloadSongsFromCloud stage(Sonarbox::instance(), nullptr);
    return stage.fetchListing(run);
}

bool ServiceFixture::listCloudLibrary(const RunContext &context) {
    SyncRun run(context);
    return listCloudLibrary(run);
}

bool ServiceFixture::listCloudLibrary() {
    return listCloudLibrary(*Sonarbox::instance().newRun());
}
