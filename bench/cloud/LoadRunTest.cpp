#include "LoadRun.h"

#include "StoredMedia.h"
#include "TagReader.h"
#include "objects/ObjectStore.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

class UploadPayload : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/bench-payload-test-XXXXXX";
        work_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(work_); }

    // What the server's upload route asks of a file before it keeps it.
    bool accepted(const std::string &content) {
        const auto store = cloud::objects::openObjectStore("", work_ / "data");
        auto incoming = store->create();
        if (!incoming->write(content.data(), content.size()))
            return false;
        const std::string key = incoming->commit();
        return cloud::readTags(store->open(key), cloud::TagDepth::Quick) &&
               cloud::decodesAsAudio(store->open(key));
    }

    fs::path work_;
};

TEST_F(UploadPayload, StampedCopiesDifferAndStayAudioTheServerTakes) {
    const std::string payload = bench::audioPayload(work_, 1);
    // About the size asked for: the length follows from the bit rate.
    ASSERT_GT(payload.size(), 1000u * 1024);
    ASSERT_LT(payload.size(), 1100u * 1024);
    std::string first = payload;
    std::string second = payload;
    bench::stampAudio(first, "3:17:");
    bench::stampAudio(second, "3:18:");
    EXPECT_EQ(first.size(), payload.size());
    EXPECT_NE(first, payload);
    EXPECT_NE(first, second);
    // Only the middle changes: the headers the server reads are intact.
    EXPECT_EQ(first.compare(0, payload.size() / 2, payload, 0, payload.size() / 2), 0);
    EXPECT_TRUE(accepted(payload));
    EXPECT_TRUE(accepted(first));
    // The check is real: bytes of the same size that are no audio are refused.
    EXPECT_FALSE(accepted(std::string(payload.size(), 'x')));
}

TEST(StampAudio, LeavesTooShortContentAlone) {
    std::string tiny = "abc";
    bench::stampAudio(tiny, "a long stamp");
    EXPECT_EQ(tiny, "abc");
}

} // namespace
