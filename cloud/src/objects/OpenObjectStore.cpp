// The store an operator names on the command line, and its credentials.
#include "FolderStore.h"
#include "Http.h"
#include "S3Store.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace cloud::objects {

namespace {

std::string trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

bool isBucketName(const std::string &name) {
    if (name.size() < 3 || name.size() > 63)
        return false;
    for (const char c : name) {
        if (!std::islower(static_cast<unsigned char>(c)) &&
            !std::isdigit(static_cast<unsigned char>(c)) && c != '-' && c != '.')
            return false;
    }
    return true;
}

S3Options parseS3(const std::string &address) {
    const std::string_view scheme = "s3://";
    std::string_view rest(address);
    rest.remove_prefix(scheme.size());
    const auto question = rest.find('?');
    const std::string_view location = rest.substr(0, question);
    S3Options o;
    const auto slash = location.find('/');
    o.bucket = std::string(location.substr(0, slash));
    if (slash != std::string_view::npos)
        o.prefix = std::string(location.substr(slash + 1));
    if (!isBucketName(o.bucket))
        throw ObjectError("the bucket of --objects must be 3 to 63 lower-case letters, digits, "
                          "dots and hyphens");
    std::multimap<std::string, std::string> fields;
    if (question != std::string_view::npos)
        http::parseForm(rest.substr(question + 1), fields);
    for (const auto &[name, value] : fields) {
        if (name == "endpoint")
            o.endpoint = value;
        else if (name == "region")
            o.region = value;
        else
            throw ObjectError("--objects takes endpoint and region, not \"" + name + "\"");
    }
    const bool http = o.endpoint.rfind("http://", 0) == 0;
    if (!http && o.endpoint.rfind("https://", 0) != 0)
        throw ObjectError("--objects needs endpoint=http://HOST:PORT or https://HOST:PORT");
    std::string authority = o.endpoint.substr(http ? 7 : 8);
    while (!authority.empty() && authority.back() == '/')
        authority.pop_back();
    if (authority.find('@') != std::string::npos)
        throw ObjectError("credentials go in the environment or --objects-credentials, never in "
                          "the endpoint address");
    if (authority.empty() || authority.find_first_of("/?#") != std::string::npos)
        throw ObjectError("the endpoint of --objects is a scheme, host and port, without a path");
    o.endpoint = (http ? "http://" : "https://") + authority;
    if (o.region.empty())
        throw ObjectError("the region of --objects must not be empty");
    return o;
}

} // namespace

Credentials loadCredentials(const fs::path &file) {
    Credentials c;
    if (!file.empty()) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            throw ObjectError("cannot read the credentials file " + file.string());
        if ((st.st_mode & 077) != 0)
            throw ObjectError("the credentials file " + file.string() +
                              " may be read by others: make it 0600");
        std::ifstream in(file);
        if (!in)
            throw ObjectError("cannot read the credentials file " + file.string());
        std::string line;
        while (std::getline(in, line)) {
            const std::string text = trim(line);
            const auto eq = text.find('=');
            if (text.empty() || text[0] == '#' || eq == std::string::npos)
                continue;
            const std::string name = trim(std::string_view(text).substr(0, eq));
            if (name == "access_key_id")
                c.accessKeyId = trim(std::string_view(text).substr(eq + 1));
            else if (name == "secret_access_key")
                c.secretAccessKey = trim(std::string_view(text).substr(eq + 1));
        }
        if (c.accessKeyId.empty() || c.secretAccessKey.empty())
            throw ObjectError("the credentials file " + file.string() +
                              " needs the lines access_key_id=… and secret_access_key=…");
        return c;
    }
    const char *id = std::getenv("SONARBOX_S3_ACCESS_KEY_ID");
    const char *secret = std::getenv("SONARBOX_S3_SECRET_ACCESS_KEY");
    if (!id || !*id || !secret || !*secret)
        throw ObjectError("the object store's credentials are missing: set "
                          "SONARBOX_S3_ACCESS_KEY_ID and SONARBOX_S3_SECRET_ACCESS_KEY, or give "
                          "--objects-credentials FILE");
    c.accessKeyId = id;
    c.secretAccessKey = secret;
    return c;
}

std::unique_ptr<ObjectStore> openObjectStore(const std::string &address, const fs::path &dataDir,
                                             const fs::path &credentialsFile) {
    if (address.empty()) {
        if (!credentialsFile.empty())
            throw ObjectError("--objects-credentials goes with --objects");
        return std::make_unique<FolderStore>(dataDir);
    }
    if (address.rfind("s3://", 0) != 0)
        throw ObjectError("--objects takes s3://BUCKET?endpoint=URL&region=REGION");
    S3Options options = parseS3(address);
    options.credentials = loadCredentials(credentialsFile);
    options.spoolDir = dataDir / "incoming";
    return std::make_unique<S3Store>(std::move(options));
}

} // namespace cloud::objects
