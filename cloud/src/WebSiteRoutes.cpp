// The service's web site as far as the desktop client links to it: one page
// whose sections (terms, password help) are addressed by the fragment.
#include "ServerContext.h"

namespace cloud {

namespace {

constexpr const char *kSite = R"HTML(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Sonarbox cloud</title>
<style>body{font-family:sans-serif;max-width:40em;margin:2em auto}section{display:none}
section:target{display:block}</style></head>
<body><h1>Sonarbox cloud</h1>
<p>This server keeps the music libraries of its accounts. Sign in from the Sonarbox
desktop client.</p>
<section id="/tcs"><h2>Terms and conditions</h2>
<p>Upload only music you own. The operator of this server may remove content and
accounts. Your files are stored on this server only.</p></section>
<section id="/sendResetPassword"><h2>Forgotten password</h2>
<p>This server does not send e-mail. Ask its operator to set a new password for
your account.</p></section>
</body></html>
)HTML";

} // namespace

void addWebSiteRoutes(http::HttpServer &server) {
    server.get("/", [](const http::Request &, http::Response &res) {
        res.setContent(kSite, "text/html; charset=utf-8");
    });
}

} // namespace cloud
