// tonemill-catalog: builds and inspects recognition catalogues.
#include "catalog_commands.h"

#include <cstring>
#include <iostream>

namespace {

void usage() {
    std::cerr << "Usage: tonemill-catalog COMMAND DB [ARGS]\n"
                 "  create DB                       make an empty catalogue\n"
                 "  add DB FILE... [--album A] [--artist A] [--label L] [--genre G]\n"
                 "                                  fingerprint files into the catalogue\n"
                 "  import DB JSON                  add genres, moods, tempos, eras, origins,\n"
                 "                                  labels and external IDs\n"
                 "  identify DB FILE...             show the best matches of files\n"
                 "  stats DB                        sizes of the catalogue\n"
                 "  upgrade DB                      convert a catalogue of an older format\n";
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        usage();
        return 64;
    }
    const std::string command = argv[1], db = argv[2];
    std::vector<std::string> args;
    recog::AddOverrides overrides;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        std::string *target = a == "--album"    ? &overrides.album
                              : a == "--artist" ? &overrides.artist
                              : a == "--label"  ? &overrides.label
                              : a == "--genre"  ? &overrides.genre
                                                : nullptr;
        if (target && command == "add") {
            if (i + 1 >= argc) {
                std::cerr << a << " needs a value\n";
                return 64;
            }
            *target = argv[++i];
        } else {
            args.push_back(a);
        }
    }
    if (command == "create" && args.empty())
        return recog::commandCreate(db, std::cout, std::cerr);
    if (command == "add" && !args.empty())
        return recog::commandAdd(db, args, overrides, std::cout, std::cerr);
    if (command == "import" && args.size() == 1)
        return recog::commandImport(db, args[0], std::cout, std::cerr);
    if (command == "identify" && !args.empty())
        return recog::commandIdentify(db, args, std::cout, std::cerr);
    if (command == "upgrade" && args.empty())
        return recog::commandUpgrade(db, std::cout, std::cerr);
    if (command == "stats" && args.empty())
        return recog::commandStats(db, std::cout, std::cerr);
    usage();
    return 64;
}
