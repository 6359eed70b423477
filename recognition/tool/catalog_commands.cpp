#include "catalog_commands.h"

#include "catalog_upgrade.h"
#include "fingerprinter.h"
#include "matcher.h"
#include "value_import.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace recog {

namespace {

std::string tag(const DecodedAudio &a, std::initializer_list<const char *> keys) {
    for (const char *k : keys)
        if (const auto it = a.tags.find(k); it != a.tags.end())
            return it->second;
    return {};
}

bool fingerprintOf(const DecodedAudio &a, std::vector<uint32_t> &items, double &seconds,
                   std::string &error) {
    return Fingerprinter::compute(a.pcm.data(), a.frames(), a.sampleRate, a.channels, 0, items,
                                  seconds, error);
}

// Largest values document that import reads: the parsed document takes about
// 15 times the size of its text.
constexpr size_t kMaxImportBytes = size_t(64) << 20;

// Reads the whole stream unless it holds more than `limit` bytes.
bool readAtMost(std::istream &in, size_t limit, std::string &out) {
    char chunk[1 << 16];
    while (in.read(chunk, sizeof chunk), in.gcount() > 0) {
        out.append(chunk, size_t(in.gcount()));
        if (out.size() > limit)
            return false;
    }
    return true;
}

std::string fixed(double v, int digits) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << v;
    return s.str();
}

} // namespace

bool prepareTrack(const std::string &path, const AddOverrides &o, NewTrack &t, std::string &error) {
    DecodedAudio audio;
    if (!decodeAudioFile(path, kCatalogSeconds, audio, error))
        return false;
    double seconds = 0;
    if (!fingerprintOf(audio, t.fingerprint, seconds, error))
        return false;
    if (seconds < kMinimumSeconds) {
        error = path + " holds less than " + fixed(kMinimumSeconds, 0) + " s of sound";
        return false;
    }
    t.title = tag(audio, {"title"});
    if (t.title.empty())
        t.title = std::filesystem::path(path).stem().string();
    t.artist = o.artist.empty() ? tag(audio, {"artist", "album_artist"}) : o.artist;
    t.albumArtist = o.artist.empty() ? tag(audio, {"album_artist"}) : o.artist;
    t.album = o.album.empty() ? tag(audio, {"album"}) : o.album;
    t.label = o.label.empty() ? tag(audio, {"label", "publisher", "organization"}) : o.label;
    t.genre = o.genre.empty() ? tag(audio, {"genre"}) : o.genre;
    t.trackNumber = std::atoi(tag(audio, {"track"}).c_str());
    t.duration = audio.durationSeconds > 0 ? audio.durationSeconds : seconds;
    t.source = std::filesystem::absolute(path).string();
    return true;
}

int commandCreate(const std::string &db, std::ostream &out, std::ostream &err) {
    std::string error;
    if (!Catalog::create(db, error)) {
        err << "create: " << error << "\n";
        return 1;
    }
    out << "created catalogue " << db << "\n";
    return 0;
}

int commandAdd(const std::string &db, const std::vector<std::string> &files,
               const AddOverrides &overrides, std::ostream &out, std::ostream &err) {
    std::string error;
    auto cat = Catalog::open(db, true, error);
    if (!cat) {
        err << "add: " << error << "\n";
        return 1;
    }
    CatalogWriter writer(*cat);
    int failed = 0;
    const size_t width = std::to_string(files.size()).size();
    for (size_t i = 0; i < files.size(); ++i) {
        out << "[" << std::setw(int(width)) << i + 1 << "/" << files.size() << "] " << files[i]
            << ": " << std::flush;
        NewTrack track;
        std::optional<TrackRecord> rec;
        if (prepareTrack(files[i], overrides, track, error))
            rec = writer.addTrack(track, error);
        if (!rec) {
            ++failed;
            out << "not added\n";
            err << files[i] << ": " << error << "\n";
            continue;
        }
        out << "added " << rec->gnid << " (TUI " << rec->tui << "-" << rec->tuiTag << ") \""
            << rec->title << "\" by " << rec->artist << "\n";
    }
    out << files.size() - size_t(failed) << " added, " << failed << " failed\n";
    return failed ? 2 : 0;
}

int commandImport(const std::string &db, const std::string &json, std::ostream &out,
                  std::ostream &err) {
    std::ifstream in(json, std::ios::binary);
    if (!in) {
        err << "import: cannot read " << json << "\n";
        return 1;
    }
    std::string text;
    if (!readAtMost(in, kMaxImportBytes, text)) {
        err << "import: " << json << ": larger than " << (kMaxImportBytes >> 20)
            << " MiB; split it into several files\n";
        return 1;
    }
    if (in.bad()) {
        err << "import: cannot read " << json << "\n";
        return 1;
    }
    std::string error;
    JsonValue doc;
    if (!parseJson(text, doc, error)) {
        err << "import: " << json << ": " << error << "\n";
        return 1;
    }
    auto cat = Catalog::open(db, true, error);
    if (!cat) {
        err << "import: " << error << "\n";
        return 1;
    }
    ImportSummary summary;
    if (!importValues(*cat, doc, summary, error)) {
        err << "import: " << error << " (nothing was changed)\n";
        return 1;
    }
    out << "updated " << summary.tracks << " tracks, " << summary.albums << " albums, "
        << summary.contributors << " contributors\n";
    for (const std::string &u : summary.unmatched)
        err << "import: " << u << " matches nothing in the catalogue\n";
    return summary.unmatched.empty() ? 0 : 2;
}

int commandIdentify(const std::string &db, const std::vector<std::string> &files, std::ostream &out,
                    std::ostream &err) {
    std::string error;
    auto cat = Catalog::open(db, false, error);
    if (!cat) {
        err << "identify: " << error << "\n";
        return 1;
    }
    Matcher matcher(*cat, MatchParams{});
    int unknown = 0;
    for (const std::string &file : files) {
        DecodedAudio audio;
        std::vector<uint32_t> items;
        double seconds = 0;
        if (!decodeAudioFile(file, kQuerySeconds, audio, error) ||
            !fingerprintOf(audio, items, seconds, error)) {
            err << file << ": " << error << "\n";
            ++unknown;
            continue;
        }
        const MatchOutcome m = matcher.match(items, seconds);
        out << file << ": " << (m.anyAccepted() ? "identified" : "no match");
        if (!m.refusal.empty())
            out << " (" << m.refusal << ")";
        out << "\n";
        unknown += !m.anyAccepted();
        for (size_t i = 0; i < m.candidates.size() && i < 5; ++i) {
            const Candidate &c = m.candidates[i];
            const auto t = cat->track(c.trackId);
            out << "  " << (c.accepted ? "*" : " ") << " score " << fixed(c.score, 3) << " (offset "
                << c.alignment.offset << " items, ber " << fixed(c.alignment.ber, 3)
                << ", segmented " << fixed(c.segmented, 3) << ", limit " << fixed(c.threshold, 3)
                << ", " << c.sharedKeys << " keys)  "
                << (t ? t->gnid + " \"" + t->title + "\" by " + t->artist : "?") << "\n";
        }
    }
    return unknown ? 2 : 0;
}

int commandUpgrade(const std::string &db, std::ostream &out, std::ostream &err) {
    std::string error;
    int tracks = 0;
    if (!upgradeCatalog(db, tracks, error)) {
        err << "upgrade: " << error << "\n";
        return 1;
    }
    out << "converted " << db << " (" << tracks << " tracks) to catalogue format "
        << Catalog::kSchemaVersion << "\n";
    return 0;
}

int commandStats(const std::string &db, std::ostream &out, std::ostream &err) {
    std::string error;
    auto cat = Catalog::open(db, false, error);
    if (!cat) {
        err << "stats: " << error << "\n";
        return 1;
    }
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(db, ec);
    const auto indexBytes = std::filesystem::file_size(cat->indexPath(), ec);
    const IndexHeader &h = cat->index()->header();
    const int64_t tracks = cat->trackCount();
    const auto perTrack = [&](double v) { return fixed(tracks ? v / double(tracks) : 0, 0); };
    out << "catalogue      " << db << " (" << bytes / 1024 << " KiB, " << perTrack(double(bytes))
        << " bytes/track)\n"
        << "index          " << cat->indexPath() << " (" << indexBytes / 1024 << " KiB, "
        << perTrack(double(indexBytes)) << " bytes/track, format " << h.version << ")\n"
        << "tracks         " << tracks << "\n"
        << "albums         " << cat->albumCount() << "\n"
        << "contributors   " << cat->contributorCount() << "\n"
        << "items/track    " << perTrack(double(h.itemCount)) << "\n"
        << "index keys     " << h.keyCount << "\n"
        << "postings       " << h.postingCount << " ("
        << fixed(h.keyCount ? double(h.postingCount) / double(h.keyCount) : 0, 2) << " per key, "
        << fixed(h.postingCount ? double(h.postingBytes) / double(h.postingCount) : 0, 2)
        << " bytes each)\n";
    return 0;
}

} // namespace recog
