// ping, the licence (always valid: this server has none to sell), the
// signed-in user, who may see only themselves, the library's scan status,
// radio stations (none) and whose credentials a call carries.
#include "Subsonic.h"

#include <strings.h>

namespace cloud::subsonic {

namespace {

void ping(Call &call) {
    reply(call, okResponse());
}

void getLicense(Call &call) {
    Element ok = okResponse();
    ok.child("license").set("valid", true).set("email", call.user.email);
    reply(call, ok);
}

void getUser(Call &call) {
    const auto name = required(call, "username");
    if (!name)
        return;
    if (strcasecmp(name->c_str(), call.user.email.c_str()) != 0)
        return fail(call, kNotAuthorised, "only your own account can be looked up");
    Element ok = okResponse();
    Element &u = ok.child("user");
    u.set("username", call.user.email)
        .set("email", call.user.email)
        .set("scrobblingEnabled", true)
        .set("adminRole", false)
        .set("settingsRole", false)
        .set("downloadRole", true)
        .set("uploadRole", false)
        .set("playlistRole", true)
        .set("coverArtRole", false)
        .set("commentRole", false)
        .set("podcastRole", false)
        .set("streamRole", true)
        .set("jukeboxRole", false)
        .set("shareRole", false)
        .set("videoConversionRole", false);
    u.value("folder", std::int64_t{1});
    reply(call, ok);
}

// Nothing is scanned: songs join the library as they are uploaded or
// matched. A scan is never under way, and the count is the library's.
void scanStatus(Call &call) {
    Element ok = okResponse();
    ok.child("scanStatus")
        .set("scanning", false)
        .set("count", call.ctx.store.userMediaCount(call.userId()));
    reply(call, ok);
}

void getInternetRadioStations(Call &call) {
    Element ok = okResponse();
    ok.child("internetRadioStations").list("internetRadioStation");
    reply(call, ok);
}

// Whose the credentials are (the apiKeyAuthentication extension).
void tokenInfo(Call &call) {
    Element ok = okResponse();
    ok.child("tokenInfo").set("username", call.user.email);
    reply(call, ok);
}

} // namespace

void addSystemMethods(Methods &m) {
    m["ping"] = ping;
    m["getLicense"] = getLicense;
    m["getUser"] = getUser;
    m["getScanStatus"] = scanStatus;
    m["startScan"] = scanStatus;
    m["getInternetRadioStations"] = getInternetRadioStations;
    m["tokenInfo"] = tokenInfo;
}

} // namespace cloud::subsonic
