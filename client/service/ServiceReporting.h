#pragma once

#include "ServiceClient.h"
#include "store/RunContext.h"

#include <QString>

// A device status report ("SCANNING", "MATCHING", "ACTIVE") for the context's
// account: one "sendStatusProcess" exchange whose answer nobody reads.
// Blocks until the exchange ends: call it off the main thread.
void sendDeviceStatus(const ServiceClient &client, const RunContext &context, const QString &status,
                      int trackAmount);
