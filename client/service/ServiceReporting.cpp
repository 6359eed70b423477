#include "ServiceReporting.h"

#include "CommonRequest.h"
#include "JSONRequestBuilder.h"
#include "sync/Sonarbox.h"

void installServiceReporting() {
    // The coordinator already runs the reporter on the background pool, and
    // nobody reads the answer.
    Sonarbox::instance().setStatusReporter([](const QString &status, int trackAmount) {
        CommonRequest request;
        request.connect(Sonarbox::instance().loggedUser(),
                        JSONRequestBuilder::buildStatusObject(status, trackAmount),
                        QStringLiteral("sendStatusProcess"));
    });
}
