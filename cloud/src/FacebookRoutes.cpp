// A stand-in for the Facebook sign-in: the authorisation address sends the
// browser to a small login dialog, which redirects to the login-success page
// with an access token (or an error description) in the address. The tokens it
// issues are the ones "loginDesktopThroughFacebook" accepts.
#include "ServerContext.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace cloud {

namespace {

using http::Request;
using http::Response;

constexpr const char *kSuccessPath = "/connect/login_success.html";
constexpr const char *kDialogPath = "/connect/uiserver.php";

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Tokens may only travel to this server's own login-success page, named by
// the configured public address: the request's Host header is the client's
// word and proves nothing.
bool isOwnSuccessPage(const ServerContext &ctx, const std::string &uri) {
    const std::string &base = ctx.config.publicUrl;
    return uri.size() == base.size() + std::strlen(kSuccessPath) &&
           equalsIgnoreCase(std::string_view(uri).substr(0, base.size()), base) &&
           std::string_view(uri).substr(base.size()) == kSuccessPath;
}

std::string htmlEscape(std::string_view s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string urlEncode(std::string_view s) {
    std::string out;
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            static const char *hex = "0123456789ABCDEF";
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

void sendPage(Response &res, int status, const std::string &title, const std::string &body) {
    res.status = status;
    // The dialog takes a password: no other site may frame it.
    res.setHeader("X-Frame-Options", "DENY");
    res.setContent("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" +
                       htmlEscape(title) + "</title></head><body>" + body + "</body></html>",
                   "text/html; charset=utf-8");
}

void sendDialog(Response &res, const Request &req, const std::string &message) {
    std::string body = "<h1>Log in</h1>";
    if (!message.empty())
        body += "<p class=\"error\">" + htmlEscape(message) + "</p>";
    body += "<form method=\"post\" action=\"" + std::string(kDialogPath) + "\">";
    for (const char *name : {"client_id", "redirect_uri", "scope"}) {
        body += "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" +
                htmlEscape(req.param(name)) + "\">";
    }
    body += "<p><label>E-mail <input type=\"email\" name=\"email\" value=\"" +
            htmlEscape(req.param("email")) +
            "\"></label></p>"
            "<p><label>Password <input type=\"password\" name=\"pass\"></label></p>"
            "<p><button type=\"submit\" name=\"action\" value=\"login\">Log In</button> "
            "<button type=\"submit\" name=\"action\" value=\"deny\">Cancel</button></p></form>";
    sendPage(res, 200, "Log in", body);
}

bool checkRequest(const ServerContext &ctx, const Request &req, Response &res) {
    if (req.param("client_id").empty()) {
        sendPage(res, 400, "Error", "<p>The request names no application.</p>");
        return false;
    }
    if (!isOwnSuccessPage(ctx, req.param("redirect_uri"))) {
        sendPage(res, 400, "Error", "<p>The redirect address is not allowed.</p>");
        return false;
    }
    return true;
}

void authorize(const ServerContext &ctx, const Request &req, Response &res) {
    if (!checkRequest(ctx, req, res))
        return;
    const auto query = req.target.find('?');
    res.redirect(ctx.config.publicUrl + kDialogPath +
                     (query == std::string::npos ? "" : req.target.substr(query)),
                 302);
}

void submit(ServerContext &ctx, const Request &req, Response &res) {
    if (!checkRequest(ctx, req, res))
        return;
    const std::string redirect = req.param("redirect_uri");
    if (req.param("action") == "deny") {
        res.redirect(redirect + "?error=access_denied&error_code=200&error_description=" +
                         urlEncode("The user denied your request.") + "&error_reason=user_denied",
                     302);
        return;
    }
    // The stand-in's accounts are a separate kind: their own throttle key.
    const std::string account = "facebook:" + req.param("email");
    if (const int wait = ctx.signInThrottle->waitSeconds(account, req.limitKey); wait > 0)
        return sendDialog(res, req,
                          "Too many failed attempts: try again in " + std::to_string(wait) +
                              " seconds.");
    const auto user = ctx.store.findFacebookUserByEmail(req.param("email"));
    // An unknown address costs the same key derivation as a wrong password.
    const bool ok = user ? user->password.verify(req.param("pass"))
                         : !ctx.dummyPassword.verify(req.param("pass")) && false;
    if (!ok) {
        ctx.signInThrottle->failed(account, req.limitKey);
        return sendDialog(res, req, "The e-mail address or the password is wrong.");
    }
    ctx.signInThrottle->succeeded(account);
    const std::string token =
        ctx.store.createFacebookToken(user->id, ctx.config.facebookTokenLifetimeSeconds);
    res.redirect(redirect + "#access_token=" + token +
                     "&expires_in=" + std::to_string(ctx.config.facebookTokenLifetimeSeconds),
                 302);
}

} // namespace

void addFacebookRoutes(http::HttpServer &server, ServerContext &ctx) {
    server.get("/oauth/authorize",
               [&ctx](const Request &req, Response &res) { authorize(ctx, req, res); });
    server.get(kDialogPath, [&ctx](const Request &req, Response &res) {
        if (checkRequest(ctx, req, res))
            sendDialog(res, req, {});
    });
    server.post(kDialogPath, [&ctx](const Request &req, Response &res) { submit(ctx, req, res); });
    server.get(kSuccessPath, [](const Request &, Response &res) {
        sendPage(res, 200, "Success", "<p>Success</p>");
    });
}

} // namespace cloud
