#pragma once

#include "GatewayFixture.h"

#include "store/RunContext.h"
#include "sync/SyncRun.h"

// The scripted gateway plus a fresh coordinator around every test: the
// fixture of the layers that keep their session on the coordinator
// (accounts, sync, the shell and the end-to-end tests).
class ServiceFixture : public GatewayFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // The download stage's listing of the cloud library for `run` (a run of
    // `context`, or of the coordinator's current one), kept in the run.
    static bool listCloudLibrary(SyncRun &run);
    static bool listCloudLibrary(const RunContext &context);
    static bool listCloudLibrary();
};
