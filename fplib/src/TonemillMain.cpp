#include "TonemillMain.h"

#include "Avhandler.h"
#include "FileMetadata.h"
#include "FilePreparer.h"
#include "Gnhandler.h"
#include "Gnutils.h"
#include "MBCollection.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

enum class ItemKind { File, Identifier, Missing };

struct Item {
    ItemKind kind;
    const char *text; // the path, the identifier, or the option missing its element
};

bool is(const char *argument, const char *option) {
    return std::strcmp(argument, option) == 0;
}

// The items after the user option. A trailing "-i" or "-f" has no element to
// take and becomes a rejected item instead of a read past the vector.
std::vector<Item> parseItems(int argc, char *argv[], int first) {
    std::vector<Item> items;
    for (int k = first; k < argc; ++k) {
        const bool identifier = is(argv[k], "-i");
        if (identifier || is(argv[k], "-f")) {
            if (k + 1 >= argc) {
                items.push_back({ItemKind::Missing, argv[k]});
                continue;
            }
            ++k;
            items.push_back({identifier ? ItemKind::Identifier : ItemKind::File, argv[k]});
        } else {
            items.push_back({ItemKind::File, argv[k]});
        }
    }
    return items;
}

int32_t fingerprintPrepared(Gnhandler &gnhandler, const PreparedFile &file, const char *path) {
    if (file.md5 == nullptr) {
        std::fprintf(stderr, "Unable to get MD5 of file %s. Continuing...\n\n", path);
        return -1;
    }
    if (file.block == nullptr) {
        std::fprintf(stderr, "Unable to get audio samples from file %s. Continuing...\n\n", path);
        return -1;
    }
    const SampleBlockHeader header = Avhandler::ReadHeader(file.block);
    const std::size_t bytes =
        static_cast<std::size_t>(header.frameCount) * static_cast<std::size_t>(header.channels) * 2;
    return gnhandler.FingerprintFile(file.md5, header.sampleRate, header.channels,
                                     Avhandler::Samples(file.block), bytes, path, file.metadata);
}

int32_t runQuery(Gnhandler &gnhandler, Avhandler &avhandler, const std::vector<Item> &items) {
    std::vector<const char *> paths;
    for (const Item &item : items) {
        if (item.kind == ItemKind::File) {
            paths.push_back(item.text);
        }
    }
    FilePreparer preparer(paths, TonemillMain::DecodeWorkers(paths.size()), avhandler);
    int32_t count = 0;
    std::size_t fileIndex = 0;
    for (const Item &item : items) {
        int32_t status = -1;
        switch (item.kind) {
        case ItemKind::Identifier:
            status = gnhandler.FingerprintById(MBCollection::getIncance()->getMBString(item.text));
            break;
        case ItemKind::Missing:
            std::fprintf(stderr, "Missing argument after %s. Continuing...\n\n", item.text);
            break;
        case ItemKind::File:
            status = fingerprintPrepared(gnhandler, preparer.take(fileIndex), item.text);
            preparer.release(fileIndex++);
            break;
        }
        if (status == 0) {
            ++count;
        }
    }
    return count;
}

} // namespace

int TonemillMain::DecodeWorkers(std::size_t fileCount) {
    int workers = static_cast<int>(std::thread::hardware_concurrency()) >= 2 ? 2 : 1;
    if (const char *setting = std::getenv("TONEMILL_DECODE_WORKERS")) {
        const long value = std::strtol(setting, nullptr, 10);
        workers = value < 1 ? 1 : (value > 8 ? 8 : static_cast<int>(value));
    }
    return fileCount < 2 ? 1 : workers;
}

int32_t TonemillMain::PrintUsage(const char *programName) {
    std::fprintf(stderr,
                 "Usage: %s <ClientID> <ClientTag> <InitDataFile> "
                 "[-e <LogFilePath>] [-U <UserHandleFile> | -u <user handle string> | -C | -c "
                 "<UserHandleOutputFile>] <AudioFile>\n\n",
                 programName != nullptr ? programName : "tonemill");
    return 0;
}

int32_t TonemillMain::mainGraceNote(int argc, char *argv[], char *responseBuffer,
                                    int32_t responseSize, char *userBuffer, int32_t userSize,
                                    int32_t mode) {
    Avhandler avhandler;
    Gnhandler gnhandler;
    MBCollection *pool = MBCollection::getIncance();

    if (argv == nullptr || argc < 6) {
        return PrintUsage(argv != nullptr && argc > 0 ? argv[0] : nullptr);
    }
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == nullptr) {
            return PrintUsage(argv[0]);
        }
    }
    --responseSize;
    --userSize;
    if (responseSize < 1 || userSize < 1 || responseBuffer == nullptr || userBuffer == nullptr) {
        std::fprintf(stderr, "No user buffer or response buffer passed in. Exiting.\n\n");
        return 0;
    }

    // Engines that can take relative paths in the initialisation data from
    // the data's own folder are given that folder.
    std::error_code ignored;
    const std::string initFolder =
        std::filesystem::absolute(argv[3], ignored).parent_path().string();

    char *initData = nullptr;
    if (Gnutils::ReadFileToBuffer(argv[3], &initData) < 1) {
        initData = nullptr;
    }
    const int32_t started = gnhandler.Init(pool->getMBString(argv[1]), pool->getMBString(argv[2]),
                                           initData, initFolder.c_str());
    std::free(initData);
    if (started != 0) {
        std::fprintf(stderr, "Unable to initialize GNSDK. Exiting.\n\n");
        return 0;
    }

    int p = 4;
    if (p >= argc) {
        return PrintUsage(argv[0]);
    }
    if (is(argv[p], "-e")) {
        if (p + 1 >= argc) {
            return PrintUsage(argv[0]);
        }
        gnhandler.InitLogging(argv[p + 1]);
        p += 2;
    }
    if (p >= argc) {
        return PrintUsage(argv[0]);
    }

    int32_t userStatus = -1; // no user call ran yet
    const char *userOutputPath = nullptr;
    const bool loadFromFile = is(argv[p], "-U");
    const bool loadFromText = is(argv[p], "-u");
    const bool createIntoFile = is(argv[p], "-c");
    if (loadFromFile || loadFromText || createIntoFile) {
        if (p + 1 >= argc) {
            return PrintUsage(argv[0]);
        }
        if (loadFromFile) {
            char *text = nullptr;
            if (Gnutils::ReadFileToBuffer(argv[p + 1], &text) >= 1) {
                userStatus = gnhandler.LoadUser(text);
                std::free(text);
            }
        } else if (loadFromText) {
            userStatus = gnhandler.LoadUser(argv[p + 1]);
        } else {
            userOutputPath = argv[p + 1];
            userStatus = gnhandler.CreateUser(userBuffer, userSize);
        }
        p += 2;
    }
    if (p < argc && is(argv[p], "-C")) {
        userStatus = gnhandler.CreateUser(userBuffer, userSize);
        p += 1;
    }
    if (userStatus != 0) {
        std::fprintf(stderr, "Unable to initialize GNSDK user. Exiting.\n\n");
        return 0;
    }

    const std::vector<Item> items = parseItems(argc, argv, p);
    int32_t count = 0;
    if (!items.empty() && gnhandler.InitQuery() == 0) {
        count = runQuery(gnhandler, avhandler, items);
        if (gnhandler.FinalizeQuery(responseBuffer, responseSize, mode) != 0) {
            count = 0;
        }
    }
    gnhandler.Shutdown(userBuffer, userSize);

    if (userOutputPath != nullptr) {
        FILE *file = std::fopen(userOutputPath, "wb");
        if (file == nullptr) {
            std::fprintf(stderr, "Unable to open file for user-create: %s\n\n", userOutputPath);
            return -1;
        }
        std::fprintf(file, "%s", userBuffer);
        std::fclose(file);
    }
    return count;
}
