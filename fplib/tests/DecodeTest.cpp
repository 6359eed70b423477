#include "Avhandler.h"
#include "FileMetadata.h"
#include "TestAudio.h"
#include "TestChild.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testaudio::make;

class Decode : public ::testing::Test {
protected:
    Avhandler handler;
};

TEST_F(Decode, TwoMinutesOfStereoStopAfterFortyFiveSeconds) {
    const std::string path = testaudio::sine("two-minutes.flac", 120);
    ASSERT_FALSE(path.empty());
    const uint8_t *block = handler.ReadFile(path.c_str(), nullptr);
    ASSERT_NE(nullptr, block);
    const SampleBlockHeader header = Avhandler::ReadHeader(block);
    EXPECT_EQ(44100, header.sampleRate);
    EXPECT_EQ(2, header.channels);
    EXPECT_GT(header.frameCount, 1984500);
    EXPECT_LE(header.frameCount, 1984500 + 4608);
    // The sine starts at 0: the first stored frame is the first one with sound,
    // 4096 * sin(2 pi 440 / 44100) = 256, spread to two channels at -3 dB.
    const int16_t *pcm = Avhandler::Samples(block);
    EXPECT_EQ(reinterpret_cast<const int16_t *>(block + 12), pcm);
    EXPECT_NEAR(181, pcm[0], 1);
    EXPECT_EQ(pcm[0], pcm[1]);
}

TEST_F(Decode, SurroundKeepsTheFirstTwoChannelsPackedAndPlanar) {
    // Each channel holds its own constant: 0.1, 0.2, ... of full scale.
    const std::string source =
        "-f lavfi -i aevalsrc=exprs='0.1|0.2|0.3|0.4|0.5|0.6':channel_layout=5.1:"
        "sample_rate=48000:duration=1";
    for (const std::string name : {"surround.wav", "surround.flac"}) {
        const std::string path = make(name, source);
        ASSERT_FALSE(path.empty()) << name;
        const uint8_t *block = handler.ReadFile(path.c_str(), nullptr);
        ASSERT_NE(nullptr, block) << name;
        const SampleBlockHeader header = Avhandler::ReadHeader(block);
        EXPECT_EQ(48000, header.sampleRate) << name;
        EXPECT_EQ(2, header.channels) << name;
        EXPECT_EQ(48000, header.frameCount) << name;
        const int16_t *pcm = Avhandler::Samples(block);
        for (int frame : {0, 1, 24000, header.frameCount - 1}) {
            EXPECT_NEAR(3277, pcm[2 * frame], 1) << name << " frame " << frame;
            EXPECT_NEAR(6554, pcm[2 * frame + 1], 1) << name << " frame " << frame;
        }
    }
}

TEST_F(Decode, LeadingDigitalSilenceIsDropped) {
    const std::string path =
        make("late-start.wav", "-f lavfi -i aevalsrc=exprs='if(gte(t\\,3)\\,0.5\\,0)':"
                               "channel_layout=stereo:sample_rate=44100:duration=4");
    ASSERT_FALSE(path.empty());
    const uint8_t *block = handler.ReadFile(path.c_str(), nullptr);
    ASSERT_NE(nullptr, block);
    const SampleBlockHeader header = Avhandler::ReadHeader(block);
    // A file shorter than 45 seconds is decoded whole, less its silent start.
    EXPECT_EQ(44100, header.frameCount);
    EXPECT_EQ(16384, Avhandler::Samples(block)[0]);
    EXPECT_EQ(16384, Avhandler::Samples(block)[2 * 44100 - 1]);
}

// A 16-bit stereo WAV file of the given frames (left, right), 8 kHz.
std::string stereoWav(const std::string &name, const std::vector<int16_t> &samples) {
    auto le = [](uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) {
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
        }
        return out;
    };
    const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::string wav = "RIFF" + le(36 + dataBytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
                      le(2, 2) + le(8000, 4) + le(8000 * 4, 4) + le(4, 2) + le(16, 2) + "data" +
                      le(dataBytes, 4);
    for (int16_t sample : samples) {
        wav += le(static_cast<uint16_t>(sample), 2);
    }
    return testaudio::text(name, wav);
}

TEST_F(Decode, NearSilenceIsFiveEitherWayOnEveryChannel) {
    // Frames within -5..+5 on both channels are dropped; the first frame with
    // a sample outside, on either channel, is kept.
    std::vector<int16_t> samples = {0, 0, 5, -5, -5, 5, 0, -6, 3, 2};
    for (int i = 0; i < 100; ++i) {
        samples.push_back(1000);
        samples.push_back(-1000);
    }
    const std::string path = stereoWav("near-silence.wav", samples);
    const uint8_t *block = handler.ReadFile(path.c_str(), nullptr);
    ASSERT_NE(nullptr, block);
    const SampleBlockHeader header = Avhandler::ReadHeader(block);
    EXPECT_EQ(2, header.channels);
    EXPECT_EQ(102, header.frameCount);
    const int16_t *pcm = Avhandler::Samples(block);
    EXPECT_EQ((std::vector<int16_t>{0, -6, 3, 2, 1000, -1000}), std::vector<int16_t>(pcm, pcm + 6));
}

TEST_F(Decode, FullScaleFloatsSaturate) {
    const std::string path =
        make("full-scale.wav", "-f lavfi -i aevalsrc=exprs='if(lt(t\\,0.5)\\,1\\,-1.5)':"
                               "sample_rate=8000:duration=1 -c:a pcm_f32le");
    ASSERT_FALSE(path.empty());
    const uint8_t *block = handler.ReadFile(path.c_str(), nullptr);
    ASSERT_NE(nullptr, block);
    const SampleBlockHeader header = Avhandler::ReadHeader(block);
    EXPECT_EQ(1, header.channels);
    ASSERT_EQ(8000, header.frameCount);
    EXPECT_EQ(32767, Avhandler::Samples(block)[0]);
    EXPECT_EQ(-32768, Avhandler::Samples(block)[7999]);
}

TEST_F(Decode, HighRatesStopAtTheBlockCapacity) {
    const std::string path = make("high-rate.wav", "-f lavfi -i sine=sample_rate=96000:duration=30 "
                                                   "-ac 2");
    ASSERT_FALSE(path.empty());
    const uint8_t *block = handler.ReadFile(path.c_str(), nullptr);
    ASSERT_NE(nullptr, block);
    const SampleBlockHeader header = Avhandler::ReadHeader(block);
    EXPECT_EQ(96000, header.sampleRate);
    EXPECT_EQ(Avhandler::SampleBlockCapacity / 2, header.frameCount);
}

TEST_F(Decode, EveryAcceptedFormatDecodes) {
    for (const std::string name : {"tone.mp3", "tone.m4a", "tone.ogg", "tone.flac", "tone.wav"}) {
        const std::string path = testaudio::sine(name, 3);
        ASSERT_FALSE(path.empty()) << name;
        const uint8_t *block = handler.ReadFile(path.c_str(), nullptr);
        ASSERT_NE(nullptr, block) << name;
        const SampleBlockHeader header = Avhandler::ReadHeader(block);
        EXPECT_EQ(44100, header.sampleRate) << name;
        EXPECT_EQ(2, header.channels) << name;
        EXPECT_NEAR(3 * 44100, header.frameCount, 2048) << name;
    }
}

TEST_F(Decode, DamagedFilesGiveNoBlockAndAMessage) {
    const std::string mp3 = testaudio::sine("whole.mp3", 3);
    const std::string flac = testaudio::sine("whole.flac", 3);
    const std::string m4a = testaudio::sine("whole.m4a", 3);
    ASSERT_FALSE(mp3.empty() || flac.empty() || m4a.empty());
    const std::string unusable[] = {
        testaudio::truncated(mp3, 64, "cut.mp3"),   testaudio::truncated(flac, 64, "cut.flac"),
        testaudio::truncated(m4a, 2000, "cut.m4a"), testaudio::noise("noise.mp3", 50000),
        testaudio::noise("noise.flac", 5000),       testaudio::text("empty.ogg", ""),
        testaudio::folder() + "/missing.wav",       testaudio::folder(),
    };
    for (const std::string &path : unusable) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(nullptr, handler.ReadFile(path.c_str(), nullptr)) << path;
        EXPECT_FALSE(testing::internal::GetCapturedStderr().empty()) << path;
    }
    // Cut in the middle: whatever decodes is kept, nothing is read past it.
    for (const std::string &path : {mp3, flac}) {
        const std::string half =
            testaudio::truncated(path, 25000, "half-" + path.substr(path.rfind('/') + 1));
        testing::internal::CaptureStderr();
        const uint8_t *block = handler.ReadFile(half.c_str(), nullptr);
        testing::internal::GetCapturedStderr();
        if (block != nullptr) {
            EXPECT_LT(Avhandler::ReadHeader(block).frameCount, 3 * 44100) << half;
        }
    }
}

TEST_F(Decode, TagsWithAlbumArtistFallback) {
    const std::string tagged = make("tagged.mp3", "-f lavfi -i sine=duration=1 -metadata "
                                                  "album_artist='Band' -metadata album='Record' "
                                                  "-metadata track=7 -metadata title='Song'");
    const std::string both = make("both.flac", "-f lavfi -i sine=duration=1 -metadata "
                                               "artist='Singer' -metadata album_artist='Band'");
    const std::string vorbis =
        make("tagged.ogg", "-f lavfi -i sine=duration=1 -c:a libvorbis -metadata artist='Voice'");
    ASSERT_FALSE(tagged.empty() || both.empty() || vorbis.empty());

    FileMetadata metadata;
    ASSERT_NE(nullptr, handler.ReadFile(tagged.c_str(), &metadata));
    EXPECT_STREQ("Band", metadata.artist);
    EXPECT_STREQ("Record", metadata.album);
    EXPECT_STREQ("7", metadata.track);
    EXPECT_STREQ("Song", metadata.title);

    ASSERT_NE(nullptr, handler.ReadFile(both.c_str(), &metadata));
    EXPECT_STREQ("Singer", metadata.artist);
    EXPECT_EQ(nullptr, metadata.album);

    // Ogg keeps its tags on the stream.
    ASSERT_NE(nullptr, handler.ReadFile(vorbis.c_str(), &metadata));
    EXPECT_STREQ("Voice", metadata.artist);
}

TEST(Digest, WholeFileLowerCaseHex) {
    char *md5 = nullptr;
    ASSERT_EQ(0, Avhandler::ComputeMD5Sum(testaudio::text("empty.bin", "").c_str(), &md5));
    EXPECT_STREQ("d41d8cd98f00b204e9800998ecf8427e", md5);
    std::free(md5);
    // Longer than one read chunk.
    std::string content;
    for (int i = 0; i < 100000; ++i) {
        content += "abc";
    }
    ASSERT_EQ(0, Avhandler::ComputeMD5Sum(testaudio::text("abc.bin", content).c_str(), &md5));
    const std::string path = testaudio::folder() + "/abc.bin";
    const std::string command = "md5sum '" + path + "' > '" + path + ".md5'";
    ASSERT_EQ(0, testchild::shell(command));
    char expected[33] = {};
    FILE *file = std::fopen((path + ".md5").c_str(), "r");
    ASSERT_NE(nullptr, file);
    ASSERT_EQ(1u, std::fread(expected, 32, 1, file));
    std::fclose(file);
    EXPECT_STREQ(expected, md5);
    std::free(md5);

    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, Avhandler::ComputeMD5Sum("/nonexistent/x.mp3", &md5));
    EXPECT_EQ(nullptr, md5);
    EXPECT_EQ(-1, Avhandler::ComputeMD5Sum("", &md5));
    EXPECT_EQ("Unable to open /nonexistent/x.mp3"
              "Unable to compute md5 sum. No filename passed.\n\n",
              testing::internal::GetCapturedStderr());
}

} // namespace
