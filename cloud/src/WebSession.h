// Sign-in sessions of the web player: a cookie of their own, kept apart from
// the desktop protocol's JSESSIONID, so neither kind opens the other's paths.
#pragma once

#include "ServerContext.h"

#include <optional>
#include <string_view>

namespace cloud {

inline constexpr const char *kWebSessionCookie = "sonarbox_web";

// Web sessions live in the sessions table under a device ID of this prefix.
bool isWebSessionDevice(std::string_view deviceId);

// The account whose web session the request's cookie names, nullopt when none.
std::optional<User> webSessionUser(ServerContext &ctx, const http::Request &req);

// A browser tells where a request comes from; one started by another site or
// another origin (a link, a form, a picture, a script of a page on another
// port) never acts with the web session. Judged by Sec-Fetch-Site, else by
// Origin against the server's own origin (its public address, or the Host
// the request was sent to); a request naming neither is not a browser's.
bool isCrossOriginRequest(const ServerContext &ctx, const http::Request &req);

// The web player's own files, embedded at build time (WebAssets.cpp).
struct WebAsset {
    const char *path; // "/", "/web/app.js" …
    const char *contentType;
    const char *data;
    std::size_t size;
};
extern const WebAsset kWebAssets[];
extern const std::size_t kWebAssetCount;

} // namespace cloud
