#include "LibraryListing.h"

#include "CommonRequest.h"
#include "JSONRequestBuilder.h"
#include "settings/Logging.h"

namespace LibraryListing {

Result fetch(const ServiceClient &client, const RunContext &context, qint64 since) {
    Result result;
    const auto failed = [&](const QString &why) {
        qCWarning(lcAccounts).noquote()
            << QStringLiteral("Cloud library listing failed: %1").arg(why);
        result.whyNot = why;
        return result;
    };
    CommonRequest request(client);
    const std::optional<QByteArray> reply =
        request.connect(context, JSONRequestBuilder::buildGetUserMediaRequest(since),
                        QStringLiteral("getUserContentProcess"));
    if (!reply) {
        const QString detail = request.errorString();
        return failed(
            detail.isEmpty()
                ? QStringLiteral("the cloud library could not be fetched")
                : QStringLiteral("the cloud library could not be fetched (%1)").arg(detail));
    }
    // A listing can be large: read once, its tracks made as it is read.
    JSONRecievedDataParser::ListingReply listing =
        JSONRecievedDataParser::parseListingReply(*reply);
    result.status = listing.status;
    if (!listing.answered)
        return failed(
            QStringLiteral("the service answered the cloud library listing without a status"));
    if (listing.status == QLatin1String("OK")) {
        result.listing = std::move(listing.listing);
        return result;
    }
    result.whyNot = QStringLiteral("Missing login session, please logout and log back in.");
    result.refused = true;
    qCWarning(lcAccounts).noquote() << result.whyNot;
    return result;
}

} // namespace LibraryListing
