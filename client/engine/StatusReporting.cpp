#include "StatusReporting.h"

#include "Sonarbox.h"
#include "service/ServiceReporting.h"

void installServiceReporting() {
    // The coordinator already runs the reporter on the background pool.
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setStatusReporter(
        [&sonarbox](const RunContext &context, const QString &status, int trackAmount) {
            sendDeviceStatus(sonarbox.serviceClient(), context, status, trackAmount);
        });
}
