#include "ServiceReporting.h"

#include "CommonRequest.h"
#include "JSONRequestBuilder.h"
#include "sync/Sonarbox.h"

void installServiceReporting() {
    // The coordinator already runs the reporter on the background pool, and
    // nobody reads the answer.
    Sonarbox::instance().setStatusReporter([](const QString &status, int trackAmount) {
        // A device report is about an account; signed out there is nothing to report.
        const UserPtr user = Sonarbox::instance().loggedUser();
        if (!user)
            return;
        CommonRequest request;
        request.connect(user, JSONRequestBuilder::buildStatusObject(status, trackAmount),
                        QStringLiteral("sendStatusProcess"));
    });
}
