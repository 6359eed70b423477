#include "ServiceReporting.h"

#include "CommonRequest.h"
#include "JSONRequestBuilder.h"

void sendDeviceStatus(const ServiceClient &client, const RunContext &context, const QString &status,
                      int trackAmount) {
    // A device report is about an account; signed out there is nothing to report.
    if (!context.hasAccount())
        return;
    CommonRequest request(client);
    request.connect(context, JSONRequestBuilder::buildStatusObject(status, trackAmount),
                    QStringLiteral("sendStatusProcess"));
}
