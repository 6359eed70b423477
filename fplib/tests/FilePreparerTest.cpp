#include "FilePreparer.h"
#include "Avhandler.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// What the engine would be handed for one file, reduced to comparable values.
struct Seen {
    std::string md5;
    std::size_t blockHash = 0;
    bool hasBlock = false;
    bool hasMetadata = false;
    bool operator==(const Seen &) const = default;
};

Seen look(const PreparedFile &file) {
    Seen seen;
    seen.md5 = file.md5 != nullptr ? file.md5 : "";
    seen.hasBlock = file.block != nullptr;
    seen.hasMetadata = file.metadata != nullptr;
    if (file.block != nullptr) {
        const SampleBlockHeader header = Avhandler::ReadHeader(file.block);
        const std::size_t bytes = Avhandler::SampleBlockHeaderBytes +
                                  static_cast<std::size_t>(header.frameCount) * header.channels * 2;
        seen.blockHash = std::hash<std::string_view>{}(
            std::string_view(reinterpret_cast<const char *>(file.block), bytes));
    }
    return seen;
}

class DecodeWorkers : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string names[] = {"ahead-a.flac", "ahead-b.mp3",  "ahead-c.wav", "ahead-d.ogg",
                                     "ahead-e.m4a",  "ahead-f.flac", "ahead-g.wav"};
        double seconds = 1;
        for (const std::string &name : names) {
            texts.push_back(testaudio::sine(name, seconds += 0.5));
            ASSERT_FALSE(texts.back().empty());
        }
        texts.insert(texts.begin() + 2, testaudio::folder() + "/ahead-absent.mp3");
        texts.insert(texts.begin() + 5, testaudio::noise("ahead-noise.flac", 3000));
        for (const std::string &text : texts) {
            paths.push_back(text.c_str());
        }
    }
    // Takes every file in order, holding each a while so that the workers
    // run ahead and fill every decoder they may use.
    std::vector<Seen> run(int workers, std::chrono::milliseconds hold) {
        Avhandler callerHandler;
        FilePreparer preparer(paths, workers, callerHandler);
        std::vector<Seen> seen;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const PreparedFile &file = preparer.take(i);
            const Seen first = look(file);
            std::this_thread::sleep_for(hold);
            seen.push_back(look(file));
            EXPECT_EQ(first, seen.back()) << "file " << i << " changed while held";
            preparer.release(i);
        }
        return seen;
    }
    std::vector<std::string> texts;
    std::vector<const char *> paths;
};

TEST_F(DecodeWorkers, EveryCountDeliversWhatOneWorkerDoes) {
    const std::vector<Seen> reference = run(1, std::chrono::milliseconds(0));
    ASSERT_EQ(9u, reference.size());
    EXPECT_TRUE(reference[2].md5.empty());
    EXPECT_FALSE(reference[2].hasMetadata);
    EXPECT_FALSE(reference[5].md5.empty());
    EXPECT_FALSE(reference[5].hasBlock);
    for (int workers : {2, 3}) {
        EXPECT_EQ(reference, run(workers, std::chrono::milliseconds(15))) << workers;
        EXPECT_EQ(reference, run(workers, std::chrono::milliseconds(0))) << workers;
    }
}

TEST_F(DecodeWorkers, CallEndingEarlyStopsTheWorkers) {
    Avhandler callerHandler;
    { FilePreparer untouched(paths, 2, callerHandler); }
    FilePreparer preparer(paths, 2, callerHandler);
    EXPECT_NE(nullptr, preparer.take(0).block);
    preparer.release(0);
    EXPECT_NE(nullptr, preparer.take(1).md5);
    // Destroyed holding file 1 and with later files prepared or in progress.
}

} // namespace
