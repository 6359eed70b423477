// Schema versions: `migrate` takes a database to this program's version once,
// however many run at the same time, and no server runs on a schema it does
// not know.
#include "Database.h"
#include "Migrations.h"
#include "PostgresTestServer.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <future>

using namespace cloudtest;

namespace {

bool has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

class MigrateTest : public ::testing::Test {
protected:
    // A database nobody has migrated yet, on the engine under test.
    std::vector<std::string> freshDatabase() {
        if (!scaledBackend())
            return {"--data", data.path().string()};
        location = PostgresTestServer::shared().createDatabase();
        return {"--database", location};
    }
    std::string databaseLocation() const {
        return location.empty() ? (data.path() / "cloud.sqlite").string() : location;
    }
    static CommandResult command(const std::string &name, std::vector<std::string> args) {
        args.insert(args.begin(), name);
        return runCloud(args);
    }

    TempDir data;
    std::string location;
};

TEST_F(MigrateTest, MigrationsRunOnceHoweverManyMigrateAtOnce) {
    const auto backend = freshDatabase();
    std::vector<std::future<CommandResult>> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(std::async(std::launch::async, [&] { return command("migrate", backend); }));
    // Each step is taken by one of them.
    int applied = 0;
    for (auto &run : runs) {
        const CommandResult r = run.get();
        EXPECT_EQ(r.exitCode, 0) << r.output;
        if (has(r.output, "applied "))
            applied += std::stoi(r.output.substr(r.output.find("applied ") + 8));
    }
    EXPECT_EQ(applied, cloud::currentSchemaVersion());
    const CommandResult again = command("migrate", backend);
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_TRUE(has(again.output, "already")) << again.output;
    cloud::Database db(databaseLocation());
    EXPECT_EQ(cloud::schemaVersion(db), cloud::currentSchemaVersion());
}

TEST_F(MigrateTest, NoServerRunsOnASchemaItDoesNotKnow) {
    auto backend = freshDatabase();
    if (scaledBackend()) {
        // A shared database is migrated by its operator, never by a server's
        // start: a server on an older schema says what to run.
        auto serve = backend;
        serve.insert(serve.end(), {"--data", data.path().string(), "--listen", "127.0.0.1:0"});
        const CommandResult refused = command("serve", serve);
        EXPECT_NE(refused.exitCode, 0);
        EXPECT_TRUE(has(refused.output, "run sonarbox-cloud migrate")) << refused.output;
    }
    ASSERT_EQ(command("migrate", backend).exitCode, 0);
    {
        cloud::Database db(databaseLocation());
        cloud::Statement(db, "UPDATE meta SET value = ? WHERE key = 'schema_version'")
            .bind(1, std::to_string(cloud::currentSchemaVersion() + 1))
            .run();
    }
    for (const char *name : {"migrate", "add-user"}) {
        auto args = backend;
        if (std::string(name) == "add-user")
            args.insert(args.end(), {"ann@example.org", "a-password"});
        const CommandResult r = command(name, args);
        EXPECT_NE(r.exitCode, 0) << name;
        EXPECT_TRUE(has(r.output, "newer than this sonarbox-cloud knows")) << r.output;
    }
}

} // namespace
