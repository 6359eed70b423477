#include "ScaledBackEnd.h"

#include "BenchLibrary.h"
#include "Database.h"
#include "Migrations.h"
#include "PostgresTestServer.h"
#include "S3TestServer.h"

namespace fs = std::filesystem;

namespace bench {

std::vector<std::string> BackEnd::args() const {
    std::vector<std::string> out = {"--data", data.string()};
    const auto shared = sharedArgs();
    out.insert(out.end(), shared.begin(), shared.end());
    return out;
}

std::vector<std::string> BackEnd::sharedArgs() const {
    std::vector<std::string> out;
    if (!database.empty())
        out.insert(out.end(), {"--database", database});
    if (!objects.empty())
        out.insert(out.end(),
                   {"--objects", objects, "--objects-credentials", credentials.string()});
    return out;
}

std::string BackEnd::databaseLocation() const {
    return database.empty() ? sqliteOf(data) : database;
}

std::string newDatabase() {
    const std::string url = cloudtest::PostgresTestServer::shared().createDatabase();
    cloud::Database db(url);
    cloud::migrate(db);
    return url;
}

std::string newBucket() {
    return cloudtest::S3TestServer::shared().freshBucket();
}

std::string bucketUrl(const std::string &bucket) {
    return cloudtest::S3TestServer::shared().url(bucket);
}

std::string objectStoreEndpoint() {
    return cloudtest::S3TestServer::shared().endpoint();
}

void writeObjectStoreCredentials(const fs::path &path) {
    cloudtest::S3TestServer::writeCredentials(path);
}

std::string objectStoreAccessKey() {
    return cloudtest::S3TestServer::accessKey();
}

std::string objectStoreSecret() {
    return cloudtest::S3TestServer::secret();
}

BackEnd makeBackEnd(const fs::path &data, bool scaled) {
    BackEnd b;
    b.data = data;
    fs::create_directories(data);
    if (!scaled)
        return b;
    b.database = newDatabase();
    b.objects = bucketUrl(newBucket());
    b.credentials = data.parent_path() / (data.filename().string() + ".credentials");
    writeObjectStoreCredentials(b.credentials);
    return b;
}

} // namespace bench
