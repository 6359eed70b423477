// "userJson": the operation is named by the body's single top-level member.
#include "Crypto.h"
#include "ServerContext.h"

#include <algorithm>

namespace cloud {

namespace {

using http::Request;
using http::Response;

std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

void badMembers(Response &res, const Members &m) {
    sendEnvelope(res, 400, "FAILED", m.error());
}

// Names and device IDs are stored and shown: a bounded size keeps one request
// from filling rows (and every listing) with megabytes.
constexpr std::size_t kMaxFieldBytes = 256;

bool tooLong(
    Response &res,
    std::initializer_list<std::pair<const char *, const std::optional<std::string> *>> fields) {
    for (const auto &[name, value] : fields) {
        if (*value && (*value)->size() > kMaxFieldBytes) {
            sendEnvelope(res, 400, "FAILED",
                         std::string("member \"") + name + "\" is longer than " +
                             std::to_string(kMaxFieldBytes) + " bytes");
            return true;
        }
    }
    return false;
}

// The signature proves the credentials together with a token this server issued:
// upper-case hex MD5 of user name, password, device ID and the token. A token
// counts once, even when the sign-in it signed fails afterwards.
bool checkSignature(ServerContext &ctx, const Request &req, const std::string &username,
                    const std::string &password, const std::string &deviceId,
                    const std::string &signature) {
    if (signature.size() != 32)
        return false;
    const std::string prefix = username + password + deviceId;
    return ctx.tokens->consumeIf(req.limitKey, [&](const std::string &token) {
        return crypto::equalConstantTime(crypto::md5HexUpper(prefix + token), signature);
    });
}

void setSessionCookie(Response &res, const std::string &sessionId) {
    res.setHeader("Set-Cookie", "JSESSIONID=" + sessionId + "; Path=/Vexmusic; HttpOnly");
}

json::Value loginReply(const User &user) {
    json::Value v = envelope("SUCCESS");
    v.set("userName", user.email);
    v.set("firstName", user.firstName);
    v.set("lastName", user.lastName);
    if (!user.gracenoteUser.empty())
        v.set("gracenoteUser", user.gracenoteUser);
    return v;
}

// Device registration and the session, shared by both ways of signing in.
void finishLogin(ServerContext &ctx, Response &res, const User &user, const std::string &deviceId) {
    if (ctx.store.registerDevice(user.id, deviceId, ctx.config.deviceLimit) ==
        DeviceResult::LimitReached) {
        sendEnvelope(res, 200, "INVALID_DEVICE_ID",
                     "this account is already used on " + std::to_string(ctx.config.deviceLimit) +
                         " desktop installations");
        return;
    }
    setSessionCookie(res,
                     ctx.store.createSession(user.id, deviceId, ctx.config.sessionLifetimeSeconds));
    sendJson(res, 200, loginReply(user));
}

void getToken(ServerContext &ctx, const Request &req, Response &res) {
    res.status = 200;
    res.setContent(json::serialize(json::Value(ctx.tokens->issue(req.limitKey))),
                   "application/json");
}

void loginDesktop(ServerContext &ctx, const Request &req, const json::Value &args, Response &res) {
    Members m(args);
    const auto username = m.string("username");
    const auto password = m.string("password");
    const auto deviceId = m.string("deviceId");
    const auto signature = m.string("signature");
    m.string("appId");
    m.string("hashedPassword");
    if (!m.ok())
        return badMembers(res, m);
    if (tooLong(res, {{"username", &username}, {"deviceId", &deviceId}}))
        return;
    if (!username || username->empty() || !password || password->empty())
        return sendEnvelope(res, 200, "FAILED_CREDENTIALS_MISSING",
                            "user name or password missing");
    // Blanks typed around the address are part of what was signed, not of the account.
    const std::string email = trim(*username);
    if (!isValidEmail(email))
        return sendEnvelope(res, 200, "FAILED_INVALID_EMAIL",
                            "the user name is not an e-mail address");
    if (!deviceId || deviceId->empty())
        return sendEnvelope(res, 200, "DEVICE_ID_NOT_FOUND", "no device identifier given");
    if (const int wait = ctx.signInThrottle->waitSeconds(email, req.limitKey); wait > 0) {
        res.setHeader("Retry-After", std::to_string(wait));
        return sendEnvelope(res, 200, "FAILED",
                            "too many failed sign-ins: try again in " + std::to_string(wait) +
                                " seconds");
    }
    if (!checkSignature(ctx, req, *username, *password, *deviceId, signature.value_or("")))
        return sendEnvelope(res, 200, "FAILED", "invalid or reused signature");
    const auto user = ctx.store.findUserByEmail(email);
    if (!checkPassword(ctx, user, *password)) {
        ctx.signInThrottle->failed(email, req.limitKey);
        return sendEnvelope(res, 200, "FAILED", "wrong user name or password");
    }
    ctx.signInThrottle->succeeded(email);
    // The password is at hand only now: a hash made at a lower cost is redone.
    if (user->password.iterations < ctx.config.pbkdf2Iterations)
        ctx.store.setPassword(user->id, PasswordHash::make(*password, ctx.config.pbkdf2Iterations));
    ctx.credentials.add(user->id, *password);
    if (!user->desktopRegistered)
        return sendEnvelope(res, 200, "REGISTER_TO_APPLICATION_FIRST",
                            "register this account for the desktop application first");
    finishLogin(ctx, res, *user, *deviceId);
}

void loginThroughFacebook(ServerContext &ctx, const json::Value &args, Response &res) {
    Members m(args);
    const auto accessToken = m.string("accessToken");
    const auto deviceId = m.string("deviceId");
    m.string("referrer");
    m.string("inviteFriendKey");
    if (!m.ok())
        return badMembers(res, m);
    if (tooLong(res, {{"deviceId", &deviceId}}))
        return;
    if (!deviceId || deviceId->empty())
        return sendEnvelope(res, 200, "DEVICE_ID_NOT_FOUND", "no device identifier given");
    const auto fbUser = accessToken && accessToken->size() <= 128
                            ? ctx.store.findFacebookUserByToken(*accessToken)
                            : std::nullopt;
    if (!fbUser)
        return sendEnvelope(res, 200, "FAILED_FACEBOOK_AUTHENTICATION",
                            "the Facebook grant is not valid");
    finishLogin(ctx, res, ctx.store.userForFacebook(*fbUser), *deviceId);
}

// Validation failures carry the key of the message the client shows.
void registerUser(ServerContext &ctx, const Request &req, const json::Value &args, Response &res) {
    Members m(args);
    const auto firstName = m.string("firstName");
    const auto lastName = m.string("lastName");
    const auto username = m.string("username");
    const auto password = m.string("password");
    const auto confirmation = m.string("passwordConfirmation");
    const auto deviceId = m.string("deviceId");
    const auto signature = m.string("signature");
    const auto fromDesktop = m.integer("REGISTERED_FROM_DESKTOP");
    if (!m.ok())
        return badMembers(res, m);
    if (tooLong(res, {{"firstName", &firstName},
                      {"lastName", &lastName},
                      {"username", &username},
                      {"deviceId", &deviceId}}))
        return;
    const std::string email = trim(username.value_or(""));
    const std::string pass = password.value_or("");
    if (email.empty())
        return sendEnvelope(res, 200, "FAILED_CREDENTIALS_MISSING", "email_empty_message");
    if (!isValidEmail(email))
        return sendEnvelope(res, 200, "FAILED_INVALID_EMAIL", "invalid_email_message");
    if (trim(firstName.value_or("")).empty())
        return sendEnvelope(res, 200, "FAILED", "first_name_empty_message");
    if (trim(lastName.value_or("")).empty())
        return sendEnvelope(res, 200, "FAILED", "last_name_empty_message");
    if (trim(pass).empty())
        return sendEnvelope(res, 200, "FAILED_CREDENTIALS_MISSING", "password_empty_message");
    if (confirmation.value_or("") != pass)
        return sendEnvelope(res, 200, "FAILED", "password_is_not_the_same_message");
    if (pass.size() < 3)
        return sendEnvelope(res, 200, "FAILED", "password_minimum_size_message");
    if (!checkSignature(ctx, req, username.value_or(""), pass, deviceId.value_or(""),
                        signature.value_or("")))
        return sendEnvelope(res, 200, "FAILED", "invalid_signature_message");

    const bool desktop = fromDesktop.value_or(0) != 0;
    if (const auto existing = ctx.store.findUserByEmail(email)) {
        // An account made elsewhere joins the desktop application when its
        // owner registers it here with the right password.
        if (desktop && !existing->desktopRegistered && existing->hasPassword &&
            existing->password.verify(pass)) {
            ctx.store.setDesktopRegistered(existing->id);
            return sendEnvelope(res, 200, "SUCCESS");
        }
        return sendEnvelope(res, 200, "FAILED_USER_EXISTS", "user_exists_message");
    }
    User user;
    user.email = email;
    user.firstName = trim(*firstName);
    user.lastName = trim(*lastName);
    user.password = PasswordHash::make(pass, ctx.config.pbkdf2Iterations);
    user.hasPassword = true;
    user.desktopRegistered = desktop;
    if (!ctx.store.createUser(user))
        return sendEnvelope(res, 200, "FAILED_USER_EXISTS", "user_exists_message");
    sendEnvelope(res, 200, "SUCCESS");
}

void updateDeviceStatus(ServerContext &ctx, const Request &req, const json::Value &args,
                        Response &res) {
    const auto session = currentSession(ctx, req);
    if (!session)
        return sendEnvelope(res, 401, "FAILED", "No Session");
    Members m(args);
    const auto status = m.string("status");
    const auto tracks = m.integer("tracksFound");
    if (!m.ok())
        return badMembers(res, m);
    if (!status || status->empty() || status->size() > 64)
        return sendEnvelope(res, 400, "FAILED", "member \"status\" is required");
    ctx.store.updateDeviceStatus(session->userId, session->deviceId, *status,
                                 std::max<std::int64_t>(0, tracks.value_or(0)));
    sendEnvelope(res, 200, "SUCCESS");
}

void userJson(ServerContext &ctx, const Request &req, Response &res) {
    const auto body = readJsonObject(req, res);
    if (!body)
        return;
    const auto &members = body->asObject();
    if (members.size() != 1)
        return sendEnvelope(res, 400, "FAILED", "the body must name exactly one operation");
    const auto &[operation, args] = members.front();
    if (operation == "getToken")
        return getToken(ctx, req, res);
    if (!args.isObject())
        return sendEnvelope(res, 400, "FAILED",
                            "the arguments of \"" + operation + "\" must be an object");
    if (operation == "loginDesktop")
        return loginDesktop(ctx, req, args, res);
    if (operation == "loginDesktopThroughFacebook")
        return loginThroughFacebook(ctx, args, res);
    if (operation == "registerWithErrorCodes")
        return registerUser(ctx, req, args, res);
    if (operation == "updateDeviceServiceStatus")
        return updateDeviceStatus(ctx, req, args, res);
    sendEnvelope(res, 400, "FAILED", "unknown operation \"" + operation + "\"");
}

} // namespace

void addAccountRoutes(http::HttpServer &server, ServerContext &ctx) {
    server.post("/Vexmusic/userJson",
                [&ctx](const Request &req, Response &res) { userJson(ctx, req, res); });
    server.post("/Vexmusic/rest/user/logout", [&ctx](const Request &req, Response &res) {
        const std::string id = sessionIdFromCookie(req);
        if (!id.empty())
            ctx.store.deleteSession(id);
        sendEnvelope(res, 200, "SUCCESS");
    });
}

} // namespace cloud
