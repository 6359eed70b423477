#pragma once

#include "GatewayFixture.h"

#include "store/RunContext.h"

// The scripted gateway plus a fresh coordinator around every test: the
// fixture of the layers that keep their session on the coordinator
// (accounts, sync, the shell and the end-to-end tests).
class ServiceFixture : public GatewayFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // The download stage's listing of the cloud library for `context` (or
    // the coordinator's current one), kept in the coordinator's state.
    static bool listCloudLibrary(const RunContext &context);
    static bool listCloudLibrary();
};
