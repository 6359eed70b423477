// The server over HTTPS with a certificate made for the test: a client that
// trusts that certificate signs in; one that does not, or that speaks plain
// HTTP, gets nowhere.
#include "TestChild.h"
#include "TestServer.h"

#include <httplib.h>

#include <gtest/gtest.h>

using namespace cloudtest;

namespace {

TEST(TlsTest, SignInOverHttpsWithATestCertificate) {
    TempDir keys;
    const std::string cert = (keys.path() / "cert.pem").string();
    const std::string key = (keys.path() / "key.pem").string();
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
        key + " -out " + cert + " 2>/dev/null";
    ASSERT_EQ(testchild::shell(command), 0);

    TestServer server({"--tls-cert", cert, "--tls-key", key});
    server.addUser("tls@example.org", "tls password");

    httplib::SSLClient client("127.0.0.1", server.port());
    client.set_ca_cert_path(cert.c_str());
    client.enable_server_certificate_verification(true);
    const auto token = client.Post("/Vexmusic/userJson", "{\"getToken\":{}}", "application/json");
    ASSERT_TRUE(token) << httplib::to_string(token.error());
    ASSERT_EQ(token->status, 200);
    const auto tokenText = cloud::json::parse(token->body);
    ASSERT_TRUE(tokenText && tokenText->isString());

    cloud::json::Value args;
    args.set("username", "tls@example.org");
    args.set("password", "tls password");
    args.set("deviceId", "tls-device");
    args.set("signature", TestServer::signature("tls@example.org", "tls password", "tls-device",
                                                tokenText->asString()));
    cloud::json::Value body;
    body.set("loginDesktop", args);
    const auto login =
        client.Post("/Vexmusic/userJson", cloud::json::serialize(body), "application/json");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 200);
    EXPECT_NE(login->body.find("\"SUCCESS\""), std::string::npos) << login->body;
    EXPECT_TRUE(login->has_header("Set-Cookie"));

    // Without the certificate among its trusted ones, a client refuses the server.
    httplib::SSLClient stranger("127.0.0.1", server.port());
    stranger.set_ca_cert_path((keys.path() / "none.pem").c_str());
    stranger.enable_server_certificate_verification(true);
    EXPECT_FALSE(stranger.Get("/"));
    // Plain HTTP gets no answer from an HTTPS server.
    EXPECT_EQ(server.get("/").status, 0);
}

} // namespace
