#include "Importer.h"

#include "Crypto.h"
#include "Database.h"
#include "Json.h"
#include "TagReader.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace cloud {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::optional<std::string> single(Statement &q) {
    if (!q.step())
        return std::nullopt;
    std::string id = q.text(0);
    if (q.step())
        return std::nullopt; // ambiguous
    return id;
}

} // namespace

RecognitionCatalog::RecognitionCatalog(const fs::path &file) {
    if (!fs::is_regular_file(file))
        throw std::runtime_error("no recognition catalogue at " + file.string());
    db_ = std::make_unique<Database>(file.string(), Database::Mode::ReadOnly);
}

RecognitionCatalog::~RecognitionCatalog() = default;

std::optional<std::string> RecognitionCatalog::identify(const fs::path &file, const Tags &tags) {
    std::error_code ec;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(file), ec);
    {
        Statement q(*db_, "SELECT gnid FROM tracks WHERE source = ? OR source = ?");
        q.bind(1, absolute.string()).bind(2, file.string());
        if (auto id = single(q))
            return id;
    }
    {
        const std::string name = file.filename().string();
        Statement q(*db_, "SELECT gnid FROM tracks WHERE source = ? OR source LIKE ? ESCAPE '\\'");
        std::string pattern;
        for (const char c : name) {
            if (c == '%' || c == '_' || c == '\\')
                pattern += '\\';
            pattern += c;
        }
        q.bind(1, name).bind(2, "%/" + pattern);
        if (auto id = single(q))
            return id;
    }
    if (tags.title.empty())
        return std::nullopt;
    {
        Statement q(*db_,
                    "SELECT t.gnid FROM tracks t JOIN albums a ON a.id = t.album_id "
                    "WHERE lower(t.title) = ? AND lower(t.artist) = ? AND lower(a.title) = ?");
        q.bind(1, lower(tags.title)).bind(2, lower(tags.artist)).bind(3, lower(tags.album));
        if (auto id = single(q))
            return id;
    }
    Statement q(*db_, "SELECT gnid FROM tracks WHERE lower(title) = ? AND lower(artist) = ?");
    q.bind(1, lower(tags.title)).bind(2, lower(tags.artist));
    return single(q);
}

ImportResult importFile(Store &store, objects::ObjectStore &objects, const fs::path &file,
                        RecognitionCatalog *recognition) {
    if (!fs::is_regular_file(file))
        throw std::runtime_error(file.string() + ": not a regular file");
    const auto tags = readTags(file.string());
    if (!tags)
        throw std::runtime_error(file.string() + ": not an audio file");

    ImportResult result;
    result.tags = *tags;
    result.checksum = crypto::md5OfFile(file.string());
    if (result.checksum.empty())
        throw std::runtime_error(file.string() + ": cannot be read");
    if (recognition)
        result.fingerprintId = recognition->identify(file, *tags);

    // The digests are taken of the bytes as they go into the store: those
    // are what is kept, whatever happens to the file meanwhile.
    StoredFile stored;
    auto incoming = objects.create();
    crypto::Md5 md5;
    crypto::Sha256 sha256;
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto n = static_cast<std::size_t>(in.gcount());
        md5.update(buffer.data(), n);
        sha256.update(buffer.data(), n);
        if (!incoming->write(buffer.data(), n))
            throw std::runtime_error(file.string() + ": cannot be stored");
    }
    if (in.bad())
        throw std::runtime_error(file.string() + ": cannot be read");
    stored.size = static_cast<std::int64_t>(incoming->size());
    stored.md5 = md5.finalHex();
    stored.sha256 = sha256.finalHex();
    if (stored.md5 != result.checksum)
        throw std::runtime_error(file.string() + ": changed while it was imported");
    stored.relPath = incoming->commit(stored.md5);
    const std::string copy = stored.relPath;
    bool reused = false;
    try {
        stored = store.addFile(stored, reused);
    } catch (...) {
        objects.remove(copy);
        throw;
    }
    if (reused)
        objects.remove(copy); // the same bytes are stored already
    store.setFileTags(stored.id, *tags);

    CatalogItem item;
    item.fileId = stored.id;
    item.checksum = result.checksum;
    item.fingerprintId = result.fingerprintId;
    item.name = json::toValidUtf8(file.filename().string());
    item.tags = *tags;
    result.catalogId = store.addCatalogItem(item);
    return result;
}

} // namespace cloud
