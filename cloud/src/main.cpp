// sonarbox-cloud: serve the protocol, manage accounts, fill the catalogue.
#include "ClientAddress.h"
#include "CloudServer.h"
#include "CopyData.h"
#include "Housekeeping.h"
#include "Importer.h"
#include "Json.h"
#include "Library.h"
#include "Migrations.h"
#include "PlayerSecrets.h"
#include "ServerContext.h"
#include "objects/ObjectStore.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <pthread.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace cloud;

const char *kUsage = R"(usage:
  sonarbox-cloud serve --data DIR --listen HOST:PORT [options]
      --database URL            a PostgreSQL database that several servers share
                                ("postgresql://USER@HOST:PORT/NAME"; the password from
                                PGPASSFILE, a 0600 file, or PGPASSWORD), instead of
                                the SQLite file in the data folder
      --device-limit N          desktop installations per account (5)
      --pbkdf2-iterations N     cost of new password hashes (600000, at least 100000;
                                older hashes are raised to it at the next sign-in)
      --weak-password-hashes-for-tests  allow --pbkdf2-iterations below 100000
      --threads N               event-loop threads (4)
      --workers N               threads that decode covers and encode streams
                                (one per processor, at least 2)
      --max-connections N       open connections in total (1024)
      --max-connections-per-address N  open connections of one address (256)
      --trusted-proxy ADDR      a reverse proxy (load balancer) in front of the server,
                                by IPv4 or IPv6 address; may be given more than once.
                                Requests through it count under the client address
                                its X-Forwarded-For names, and its own connections
                                are not held to one address's share
      --public-url URL          the address clients reach this server at (the listening address)
      --tls-cert FILE --tls-key FILE   serve HTTPS with this PEM certificate and key
      --max-upload-mib N        largest accepted upload (100)
      --quota-mib N             storage of one account (10240)
      --min-free-mib N          uploads are refused while the disk has less free (1024)
      --token-lifetime S        signature token lifetime in seconds (300)
      --download-link-lifetime S  signed download address lifetime (60)
      --analytics-readback      serve GET /collect/events
      --recognition-catalog PATH  answer recognition lookups from this catalogue
      --recognition-clients ID:TAG[,ID:TAG...]  the engine credentials it accepts
      --recognition-rate N      lookups per second of one client (50)
      --keep-retired-seconds-for-tests S  keep retired items S seconds, not 30 days
      --objects s3://BUCKET[/PREFIX]?endpoint=URL&region=REGION
                                keep stored files in this S3-compatible bucket, not
                                in the data folder; credentials from the environment
                                (SONARBOX_S3_ACCESS_KEY_ID, SONARBOX_S3_SECRET_ACCESS_KEY)
      --objects-credentials FILE  or from this 0600 file (access_key_id=…,
                                secret_access_key=…)
  sonarbox-cloud add-user --data DIR EMAIL PASSWORD [--first NAME] [--last NAME]
      [--web-only] [--pbkdf2-iterations N]
  sonarbox-cloud add-facebook-user --data DIR EMAIL PASSWORD [--first NAME] [--last NAME]
      [--pbkdf2-iterations N]
  sonarbox-cloud import --data DIR [--recognition-catalog PATH]
      [--objects URL [--objects-credentials FILE]] FILE...
  sonarbox-cloud remove-device --data DIR EMAIL DEVICE
  sonarbox-cloud add-player-password --data DIR EMAIL NAME
  sonarbox-cloud list-player-passwords --data DIR EMAIL
  sonarbox-cloud remove-player-password --data DIR EMAIL NAME
  sonarbox-cloud migrate --data DIR | --database URL
      brings the schema to this version (a SQLite file also migrates at start)
  sonarbox-cloud copy --from-data DIR --data DIR2 [--database URL] [--objects URL]
      copies a stopped household server's accounts, libraries, stored files and keys
      to DIR2 and the database and store named; checks every stored file's digest
      there; run again, it copies what is missing
  sonarbox-cloud gc --data DIR [--objects URL] [--grace-minutes N]
      removes retired items past their keeping time, and stored files and
      unfinished uploads that no record names and nothing changed for N minutes
      (360); safe while servers run on the same database and store
Every command takes --database URL as serve does.
)";

struct Args {
    std::map<std::string, std::string> options;
    // Options that may be given more than once, with every value in order.
    std::map<std::string, std::vector<std::string>> lists;
    std::set<std::string> flags;
    std::vector<std::string> positional;
};

const std::set<std::string> kFlags = {"--analytics-readback", "--web-only",
                                      "--weak-password-hashes-for-tests"};
const std::set<std::string> kRepeatable = {"--trusted-proxy"};
constexpr int kMinPbkdf2Iterations = 100000;

bool parseArgs(int argc, char **argv, Args &args) {
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) == 0 && a.size() > 2) {
            if (kFlags.count(a)) {
                args.flags.insert(a);
            } else if (kRepeatable.count(a) && i + 1 < argc) {
                args.lists[a].push_back(argv[++i]);
            } else if (i + 1 < argc) {
                args.options[a] = argv[++i];
            } else {
                std::cerr << "option " << a << " needs a value\n";
                return false;
            }
        } else {
            args.positional.push_back(a);
        }
    }
    if (!args.options.count("--data") && !args.options.count("--database")) {
        std::cerr << "--data DIR is required\n";
        return false;
    }
    return true;
}

int intOption(const Args &args, const std::string &name, int fallback) {
    const auto it = args.options.find(name);
    if (it == args.options.end())
        return fallback;
    try {
        const int v = std::stoi(it->second);
        if (v >= 0)
            return v;
    } catch (const std::exception &) {
    }
    throw std::runtime_error(name + " needs a whole number, not \"" + it->second + "\"");
}

std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Config configFrom(const Args &args) {
    Config c;
    if (const auto it = args.options.find("--database"); it != args.options.end()) {
        if (!Database::isPostgresUrl(it->second))
            throw std::runtime_error("--database needs a postgresql:// address");
        c.database = it->second;
    }
    if (!args.options.count("--data"))
        return c;
    c.dataDir = args.options.at("--data");
    std::filesystem::create_directories(c.dataDir);
    // The folder holds password hashes, sessions and everyone's music: its
    // owner alone may enter it, also when it was made by an older version.
    std::filesystem::permissions(c.dataDir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    c.deviceLimit = intOption(args, "--device-limit", c.deviceLimit);
    c.pbkdf2Iterations = std::max(1, intOption(args, "--pbkdf2-iterations", c.pbkdf2Iterations));
    // Cheap hashes make tests fast and passwords easy to crack: only a flag
    // that says so lets them through.
    if (c.pbkdf2Iterations < kMinPbkdf2Iterations &&
        !args.flags.count("--weak-password-hashes-for-tests"))
        throw std::runtime_error("--pbkdf2-iterations must be at least " +
                                 std::to_string(kMinPbkdf2Iterations));
    c.threads = std::max(1, intOption(args, "--threads", c.threads));
    c.workers = intOption(args, "--workers", c.workers);
    c.maxConnections = static_cast<unsigned>(
        std::max(1, intOption(args, "--max-connections", static_cast<int>(c.maxConnections))));
    c.maxConnectionsPerAddress =
        static_cast<unsigned>(std::max(1, intOption(args, "--max-connections-per-address",
                                                    static_cast<int>(c.maxConnectionsPerAddress))));
    if (const auto it = args.lists.find("--trusted-proxy"); it != args.lists.end()) {
        try {
            TrustedProxies checked(it->second);
        } catch (const std::invalid_argument &e) {
            throw std::runtime_error(std::string("--trusted-proxy: ").append(e.what()));
        }
        c.trustedProxies = it->second;
    }
    const bool hasCert = args.options.count("--tls-cert") > 0;
    if (hasCert != (args.options.count("--tls-key") > 0))
        throw std::runtime_error("--tls-cert and --tls-key go together");
    if (hasCert) {
        c.tlsCertificate = readText(args.options.at("--tls-cert"));
        c.tlsKey = readText(args.options.at("--tls-key"));
    }
    c.maxUploadBytes = std::uint64_t(intOption(args, "--max-upload-mib", 100)) * 1024 * 1024;
    c.quotaBytes = std::uint64_t(std::max(0, intOption(args, "--quota-mib", 10240))) * 1024 * 1024;
    c.minFreeBytes =
        std::uint64_t(std::max(0, intOption(args, "--min-free-mib", 1024))) * 1024 * 1024;
    c.tokenLifetimeSeconds = intOption(args, "--token-lifetime", c.tokenLifetimeSeconds);
    c.downloadLinkLifetimeSeconds =
        intOption(args, "--download-link-lifetime", c.downloadLinkLifetimeSeconds);
    c.analyticsReadback = args.flags.count("--analytics-readback") > 0;
    if (const auto it = args.options.find("--recognition-catalog"); it != args.options.end())
        c.recognitionCatalog = it->second;
    if (const auto it = args.options.find("--recognition-clients"); it != args.options.end())
        c.recognitionClients = it->second;
    c.recognitionRate = std::max(1, intOption(args, "--recognition-rate", 50));
    c.keepRetiredSeconds =
        intOption(args, "--keep-retired-seconds-for-tests", static_cast<int>(c.keepRetiredSeconds));
    if (const auto it = args.options.find("--objects"); it != args.options.end())
        c.objects = it->second;
    if (const auto it = args.options.find("--objects-credentials"); it != args.options.end())
        c.objectsCredentials = it->second;
    if (const auto it = args.options.find("--public-url"); it != args.options.end()) {
        c.publicUrl = it->second;
        while (!c.publicUrl.empty() && c.publicUrl.back() == '/')
            c.publicUrl.pop_back();
    }
    return c;
}

int serve(const Args &args) {
    const auto listen = args.options.find("--listen");
    const std::string address = listen == args.options.end() ? "127.0.0.1:8080" : listen->second;
    const auto colon = address.rfind(':');
    if (colon == std::string::npos) {
        std::cerr << "--listen needs HOST:PORT\n";
        return 2;
    }
    const std::string host = address.substr(0, colon);
    const int port = std::stoi(address.substr(colon + 1));

    // Signals are taken by one thread, so that stopping happens outside a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A client that hangs up mid-reply must cost that reply only.
    std::signal(SIGPIPE, SIG_IGN);

    const Config config = configFrom(args);
    if (config.dataDir.empty())
        throw std::runtime_error("serve needs --data DIR: it holds the server's keys");
    CloudServer server(config);
    const int bound = server.bind(host, port);
    if (bound < 0) {
        std::cerr << "cannot listen on " << address << "\n";
        return 1;
    }
    std::cout << "listening on " << (config.tlsCertificate.empty() ? "http" : "https") << "://"
              << host << ":" << bound << std::endl;

    std::thread([&server, signals] {
        int sig = 0;
        sigwait(&signals, &sig);
        server.stop();
    }).detach();
    return server.run() ? 0 : 1;
}

int addUser(const Args &args, bool facebook) {
    if (args.positional.size() != 2) {
        std::cerr << kUsage;
        return 2;
    }
    const Config config = configFrom(args);
    const std::string &email = args.positional[0];
    const std::string &password = args.positional[1];
    if (!isValidEmail(email) || password.size() < 3) {
        std::cerr << "need a valid e-mail address and a password of at least 3 characters\n";
        return 2;
    }
    Store store(config.databaseLocation());
    const auto first = args.options.count("--first") ? args.options.at("--first") : "";
    const auto last = args.options.count("--last") ? args.options.at("--last") : "";
    const PasswordHash hash = PasswordHash::make(password, config.pbkdf2Iterations);
    std::optional<std::int64_t> id;
    if (facebook) {
        id = store.createFacebookUser(FacebookUser{0, email, first, last, hash});
    } else {
        User user;
        user.email = email;
        user.firstName = first;
        user.lastName = last;
        user.password = hash;
        user.hasPassword = true;
        user.desktopRegistered = !args.flags.count("--web-only");
        id = store.createUser(user);
    }
    if (!id) {
        std::cerr << email << " exists already\n";
        return 1;
    }
    std::cout << "added " << email << " (" << *id << ")\n";
    return 0;
}

int removeDevice(const Args &args) {
    if (args.positional.size() != 2) {
        std::cerr << kUsage;
        return 2;
    }
    const Config config = configFrom(args);
    Store store(config.databaseLocation());
    const auto user = store.findUserByEmail(args.positional[0]);
    if (!user || !store.removeDevice(user->id, args.positional[1])) {
        std::cerr << "no device " << args.positional[1] << " of " << args.positional[0] << "\n";
        return 1;
    }
    std::cout << "removed device " << args.positional[1] << " of " << args.positional[0] << "\n";
    return 0;
}

// Player passwords: made here, shown once, and only their sealed form kept.
int playerPasswords(const std::string &command, const Args &args) {
    const std::size_t wanted = command == "list-player-passwords" ? 1 : 2;
    if (args.positional.size() != wanted) {
        std::cerr << kUsage;
        return 2;
    }
    const Config config = configFrom(args);
    Store store(config.databaseLocation());
    const std::string &email = args.positional[0];
    const auto user = store.findUserByEmail(email);
    if (!user) {
        std::cerr << "no account " << email << "\n";
        return 1;
    }
    if (command == "list-player-passwords") {
        for (const auto &p : store.playerPasswords(user->id))
            std::cout << p.name << "\n";
        return 0;
    }
    const std::string &name = args.positional[1];
    if (command == "remove-player-password") {
        if (!store.removePlayerPassword(user->id, name)) {
            std::cerr << email << " has no player password \"" << name << "\"\n";
            return 1;
        }
        std::cout << "removed player password \"" << name << "\" of " << email << "\n";
        return 0;
    }
    if (!isValidPlayerPasswordName(name)) {
        std::cerr << "a player password's name is 1 to 64 printable characters\n";
        return 2;
    }
    if (config.dataDir.empty())
        throw std::runtime_error("add-player-password needs --data DIR: it holds the key");
    const auto made =
        createPlayerPassword(store, PlayerSecrets::load(config.dataDir), user->id, name);
    if (!made) {
        std::cerr << email << " already has a player password \"" << name << "\"\n";
        return 1;
    }
    std::cout << "player password \"" << name << "\" of " << email
              << " (it is shown only now)\npassword: " << made->password
              << "\napi key: " << made->apiKey << "\n";
    return 0;
}

int migrateSchema(const Args &args) {
    const Config config = configFrom(args);
    Database db(config.databaseLocation());
    // Another process may take some of the steps meanwhile: this one says
    // how many it took.
    const int applied = migrate(db);
    if (applied == 0)
        std::cout << "the schema is at version " << currentSchemaVersion() << " already\n";
    else
        std::cout << "applied " << applied << " migrations; the schema is at version "
                  << currentSchemaVersion() << "\n";
    return 0;
}

int collect(const Args &args) {
    const Config config = configFrom(args);
    const int graceMinutes = intOption(args, "--grace-minutes", 360);
    if (config.dataDir.empty() && config.objects.empty())
        throw std::runtime_error("gc needs the stored files: --data DIR or --objects URL");
    Store store(config.databaseLocation());
    const auto objects =
        objects::openObjectStore(config.objects, config.dataDir, config.objectsCredentials);
    const Collected c = collectGarbage(store, *objects, config.keepRetiredSeconds,
                                       std::chrono::minutes(graceMinutes));
    std::cout << "removed " << c.retired.items << " retired items and " << c.retired.files.size()
              << " of their files, " << c.objects.removed << " unrecorded files and "
              << c.objects.abandoned << " unfinished uploads; kept " << c.objects.young
              << " younger than " << graceMinutes << " minutes\n";
    return 0;
}

int copy(const Args &args) {
    const auto from = args.options.find("--from-data");
    if (from == args.options.end()) {
        std::cerr << kUsage;
        return 2;
    }
    const Config config = configFrom(args);
    if (config.dataDir.empty())
        throw std::runtime_error("copy needs --data DIR for the destination's keys");
    std::error_code same;
    if (std::filesystem::equivalent(from->second, config.dataDir, same))
        throw std::runtime_error("copy needs two different data folders");
    Database database(config.databaseLocation());
    const auto objects =
        objects::openObjectStore(config.objects, config.dataDir, config.objectsCredentials);
    const CopyReport r =
        copyDataFolder(from->second, {database, *objects, config.dataDir},
                       [](const std::string &line) { std::cerr << line << std::endl; });
    std::cout << "copied " << r.filesCopied << " stored files (" << r.bytesCopied << " bytes) and "
              << r.rowsCopied << " records; " << r.filesPresent
              << " files were there already; every file's checksum matches\n";
    return 0;
}

int import(const Args &args) {
    if (args.positional.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    const Config config = configFrom(args);
    if (config.dataDir.empty())
        throw std::runtime_error("import needs --data DIR");
    Store store(config.databaseLocation());
    const auto objects =
        objects::openObjectStore(config.objects, config.dataDir, config.objectsCredentials);
    std::unique_ptr<RecognitionCatalog> recognition;
    if (args.options.count("--recognition-catalog"))
        recognition =
            std::make_unique<RecognitionCatalog>(args.options.at("--recognition-catalog"));
    int failures = 0;
    for (const auto &file : args.positional) {
        try {
            const ImportResult r = importFile(store, *objects, file, recognition.get());
            std::cout << "imported " << file << " as " << r.catalogId << " md5 " << r.checksum;
            if (r.fingerprintId)
                std::cout << " fingerprintId " << *r.fingerprintId;
            std::cout << "\n";
        } catch (const std::exception &e) {
            std::cerr << e.what() << "\n";
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    // Every file and folder the program makes is its owner's alone (0600/0700).
    umask(077);
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string command = argv[1];
    Args args;
    if (command == "--help" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (!parseArgs(argc, argv, args)) {
        std::cerr << kUsage;
        return 2;
    }
    try {
        if (command == "serve")
            return serve(args);
        if (command == "add-user")
            return addUser(args, false);
        if (command == "add-facebook-user")
            return addUser(args, true);
        if (command == "import")
            return import(args);
        if (command == "migrate")
            return migrateSchema(args);
        if (command == "gc")
            return collect(args);
        if (command == "copy")
            return copy(args);
        if (command == "remove-device")
            return removeDevice(args);
        if (command == "add-player-password" || command == "list-player-passwords" ||
            command == "remove-player-password")
            return playerPasswords(command, args);
    } catch (const std::exception &e) {
        std::cerr << "sonarbox-cloud: " << e.what() << "\n";
        return 1;
    }
    std::cerr << kUsage;
    return 2;
}
