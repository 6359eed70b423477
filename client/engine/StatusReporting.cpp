#include "StatusReporting.h"

#include "Sonarbox.h"
#include "service/ServiceReporting.h"

void installServiceReporting() {
    // The coordinator already runs the reporter on the background pool.
    Sonarbox::instance().setStatusReporter(&sendDeviceStatus);
}
