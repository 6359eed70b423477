#pragma once

#include "GatewayFixture.h"

// The scripted gateway plus a fresh coordinator around every test: the
// fixture of the layers that keep their session on the coordinator
// (accounts, sync, the shell and the end-to-end tests).
class ServiceFixture : public GatewayFixture {
protected:
    void SetUp() override;
    void TearDown() override;
};
