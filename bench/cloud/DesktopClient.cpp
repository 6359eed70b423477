#include "DesktopClient.h"

#include "Crypto.h"

#include <algorithm>
#include <string_view>

using cloud::json::Value;

namespace bench {

namespace {

const std::string kBoundary = "----Zq4r8uLmW2xTe6Jk0PoNcVbHa";
constexpr std::size_t kSlice = 256 * 1024;

} // namespace

DesktopClient::DesktopClient(int port, std::string user)
    : http_("127.0.0.1", port)
    , user_(std::move(user)) {
    http_.set_keep_alive(true);
    http_.set_read_timeout(120, 0);
    http_.set_write_timeout(120, 0);
}

bool DesktopClient::login() {
    auto t = http_.Post("/Vexmusic/userJson", R"({"getToken": ""})", "application/json");
    if (!t || t->status != 200)
        return false;
    const auto token = cloud::json::parse(t->body);
    if (!token || !token->isString())
        return false;
    Value args;
    args.set("username", user_);
    args.set("password", kDesktopPassword);
    args.set("hashedPassword", "");
    args.set("appId", "desktop");
    args.set("deviceId", "bench-device");
    args.set("signature", cloud::crypto::md5HexUpper(user_ + kDesktopPassword + "bench-device" +
                                                     token->asString()));
    Value body;
    body.set("loginDesktop", args);
    auto r = http_.Post("/Vexmusic/userJson", cloud::json::serialize(body), "application/json");
    if (!r || r->status != 200 || !r->has_header("Set-Cookie"))
        return false;
    cookie_ = r->get_header_value("Set-Cookie");
    return true;
}

std::optional<std::string> DesktopClient::listingText(std::int64_t since) {
    Value body;
    body.set("milliseconds", since);
    body.set("version", "1.0");
    auto r = http_.Post("/Vexmusic/rest/medias/sync", {{"Cookie", cookie_}},
                        cloud::json::serialize(body), "application/json");
    if (!r || r->status != 200)
        return std::nullopt;
    return std::move(r->body);
}

std::optional<Value> DesktopClient::listing(std::int64_t since) {
    const auto text = listingText(since);
    if (!text)
        return std::nullopt;
    auto v = cloud::json::parse(*text);
    if (!v || !v->find("responseStatus") || v->find("responseStatus")->asString() != "OK")
        return std::nullopt;
    return v;
}

bool DesktopClient::match(const std::string &checksum, const std::string &expected) {
    Value body;
    body.set("score", 1);
    body.set("provider", "GRACENOTE");
    body.set("checksum", checksum);
    auto r = http_.Post("/Vexmusic/rest/userContent/createUserMediaFromCatalog",
                        {{"Cookie", cookie_}}, cloud::json::serialize(body), "application/json");
    if (!r || r->status != 200)
        return false;
    const auto v = cloud::json::parse(r->body);
    const Value *s = v ? v->find("purchaseResponseStatus") : nullptr;
    return s && s->isString() && s->asString() == expected;
}

std::int64_t DesktopClient::upload(const std::string &name, const std::string &content) {
    const std::string head = "--" + kBoundary +
                             "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                             name + "\"\r\nContent-Type: audio/mpeg\r\n\r\n";
    const std::string tail = "\r\n--" + kBoundary + "--\r\n";
    const std::size_t total = head.size() + content.size() + tail.size();
    auto provider = [&](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
        const std::string_view parts[] = {head, content, tail};
        std::size_t start = 0;
        for (const auto part : parts) {
            const std::size_t end = start + part.size();
            if (offset < end) {
                const std::size_t n = std::min({end - offset, length, kSlice});
                return sink.write(part.data() + (offset - start), n);
            }
            start = end;
        }
        return false;
    };
    auto r = http_.Post(("/Vexmusic/controllers/DesktopUploadMedia?fileName=" + name).c_str(),
                        {{"Cookie", cookie_},
                         {"mobileUpload", "true"},
                         {"X-File-Size", std::to_string(content.size())}},
                        total, provider, ("multipart/form-data; boundary=" + kBoundary).c_str());
    if (!r || r->status != 200)
        return -1;
    const auto v = cloud::json::parse(r->body);
    const Value *list = v ? v->find("purchasedContent") : nullptr;
    if (!list || !list->isArray() || list->asArray().empty())
        return -1;
    return list->asArray()[0].find("id")->asInteger();
}

std::string md5Of(const std::string &bytes) {
    cloud::crypto::Md5 m;
    m.update(bytes.data(), bytes.size());
    return m.finalHex();
}

} // namespace bench
