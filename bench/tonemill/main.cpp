// tonemill_bench: libtonemill (one call per album of ten) against its peers,
// fpcalc and md5sum, each run once over the whole corpus.
//
//   tonemill_bench [--corpus DIR] [--files N] [--repeat R]
#include "Corpus.h"
#include "Measure.h"

#include <tonemill/tonemill.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *const ClientId = "1234567";
const char *const ClientTag = "0123456789ABCDEF0123456789ABCDEF";

struct Options {
    std::string corpus = (fs::temp_directory_path() / "tonemill-bench-corpus").string();
    int files = 50;
    int repeat = 3;
};

bool parse(int argc, char **argv, Options &options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        if (arg == "--corpus") {
            options.corpus = argv[++i];
        } else if (arg == "--files") {
            options.files = std::atoi(argv[++i]);
        } else if (arg == "--repeat") {
            options.repeat = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return options.files > 0 && options.repeat > 0;
}

// One library call over `files`; true when every file was identified or at
// least added to the query.
bool identify(const std::string &initData, const std::vector<std::string> &files) {
    std::vector<std::string> texts = {"tonemill_bench", ClientId, ClientTag, initData, "-C"};
    texts.insert(texts.end(), files.begin(), files.end());
    std::vector<char *> argv;
    for (std::string &text : texts) {
        argv.push_back(text.data());
    }
    std::vector<char> response(4 << 20, '\0');
    std::vector<char> user(8192, '\0');
    const int count = tonemill_doGraceNote(static_cast<int>(argv.size()), argv.data(),
                                           response.data(), static_cast<int>(response.size()),
                                           user.data(), static_cast<int>(user.size()));
    return count == static_cast<int>(files.size());
}

Cost best(int repeat, const std::function<Cost()> &run) {
    Cost chosen;
    for (int i = 0; i < repeat; ++i) {
        const Cost cost = run();
        if (!cost.ok) {
            return cost;
        }
        if (!chosen.ok || cost.wallSeconds < chosen.wallSeconds) {
            chosen = cost;
        }
    }
    return chosen;
}

void row(const char *name, const Cost &cost) {
    char mainThread[16] = "";
    if (cost.mainThreadCpuSeconds >= 0) {
        std::snprintf(mainThread, sizeof mainThread, "%.2f", cost.mainThreadCpuSeconds);
    }
    std::printf("| %-44s | %8.2f | %8.2f | %11s | %10.2f | %9.1f |%s\n", name, cost.wallSeconds,
                cost.cpuSeconds, mainThread, cost.twoCoreBound(), cost.peakKiB / 1024.0,
                cost.ok ? "" : " FAILED");
}

void warmPageCache(const std::vector<std::string> &files) {
    std::vector<char> chunk(1 << 20);
    for (const std::string &file : files) {
        std::ifstream in(file, std::ios::binary);
        while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "Usage: tonemill_bench [--corpus DIR] [--files N] [--repeat R]\n");
        return 64;
    }
    Corpus corpus;
    if (!Corpus::make(options.corpus, options.files, corpus)) {
        std::fprintf(stderr, "Could not make the corpus in %s\n", options.corpus.c_str());
        return 1;
    }
    const std::string catalogue = (fs::path(options.corpus) / "catalogue.db").string();
    if (!fs::exists(catalogue) && !runProgram({CATALOG_TOOL, "create", catalogue}).ok) {
        std::fprintf(stderr, "Could not create the catalogue %s\n", catalogue.c_str());
        return 1;
    }
    const std::string initData = (fs::path(options.corpus) / "init-data.txt").string();
    std::ofstream(initData) << "catalog=" << catalogue << "\n";
    warmPageCache(corpus.files);

    std::vector<std::string> fpcalc = {"fpcalc", "-length", "45", "-raw"};
    std::vector<std::string> md5sum = {"md5sum"};
    fpcalc.insert(fpcalc.end(), corpus.files.begin(), corpus.files.end());
    md5sum.insert(md5sum.end(), corpus.files.begin(), corpus.files.end());
    const Cost fp = best(options.repeat, [&] { return runProgram(fpcalc); });
    const Cost md5 = best(options.repeat, [&] { return runProgram(md5sum); });
    Cost peers;
    peers.ok = fp.ok && md5.ok;
    peers.wallSeconds = fp.wallSeconds + md5.wallSeconds;
    peers.cpuSeconds = fp.cpuSeconds + md5.cpuSeconds;
    peers.peakKiB = std::max(fp.peakKiB, md5.peakKiB);

    auto library = [&](const char *workers, bool oneCall) {
        return best(options.repeat, [&] {
            return runInChild([&] {
                setenv("TONEMILL_DECODE_WORKERS", workers, 1);
                if (oneCall) {
                    return identify(initData, corpus.files);
                }
                bool ok = true;
                for (const std::vector<std::string> &album : corpus.albums) {
                    ok = identify(initData, album) && ok;
                }
                return ok;
            });
        });
    };
    const Cost one = library("1", false);
    const Cost two = library("2", false);
    const Cost bigOne = library("1", true);
    const Cost bigTwo = library("2", true);

    std::printf("corpus: %zu files in %zu albums (%s), best of %d runs\n\n", corpus.files.size(),
                corpus.albums.size(), options.corpus.c_str(), options.repeat);
    std::printf("| %-44s | %8s | %8s | %11s | %10s | %9s |\n", "contender", "wall s", "cpu s",
                "caller cpu", "2-core s", "peak MiB");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(13, '-').c_str(),
                std::string(12, '-').c_str(), std::string(11, '-').c_str());
    row("fpcalc -length 45 -raw FILE...", fp);
    row("md5sum FILE...", md5);
    row("peers total", peers);
    row("libtonemill, 1 worker, one call per album", one);
    row("libtonemill, 2 workers, one call per album", two);
    char name[64];
    std::snprintf(name, sizeof name, "libtonemill, 1 worker, one %zu-file call",
                  corpus.files.size());
    row(name, bigOne);
    std::snprintf(name, sizeof name, "libtonemill, 2 workers, one %zu-file call",
                  corpus.files.size());
    row(name, bigTwo);
    if (peers.wallSeconds > 0 && peers.cpuSeconds > 0) {
        std::printf("\nlibtonemill / peers, wall time: 1 worker %.2f (target <= 1.0), 2 workers "
                    "%.2f (target <= 0.6)\n",
                    one.wallSeconds / peers.wallSeconds, two.wallSeconds / peers.wallSeconds);
        std::printf("libtonemill / peers, CPU time: 1 worker %.2f; 2 workers on two idle cores "
                    "(bound) %.2f\n",
                    one.cpuSeconds / peers.cpuSeconds, two.twoCoreBound() / peers.cpuSeconds);
        std::printf("(wall time is only meaningful on an otherwise idle machine)\n");
    }
    const bool ok = fp.ok && md5.ok && one.ok && two.ok && bigOne.ok && bigTwo.ok;
    return ok ? 0 : 1;
}
