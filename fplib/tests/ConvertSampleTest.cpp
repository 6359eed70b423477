#include "Avhandler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace {

template <typename T> int16_t convert(T value, AVSampleFormat format) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    return Avhandler::ConvertSample(bytes, format);
}

TEST(ConvertSample, UnsignedEightBitKeepsItsExactMapping) {
    for (AVSampleFormat format : {AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_U8P}) {
        EXPECT_EQ(-32768, convert<uint8_t>(0, format));
        EXPECT_EQ(0, convert<uint8_t>(128, format));
        EXPECT_EQ(32512, convert<uint8_t>(255, format));
    }
}

TEST(ConvertSample, FloatsSaturateInsteadOfWrapping) {
    for (AVSampleFormat format : {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP}) {
        EXPECT_EQ(32767, convert<float>(1.0f, format));
        EXPECT_EQ(-32768, convert<float>(-1.0f, format));
        EXPECT_EQ(32767, convert<float>(1.5f, format));
        EXPECT_EQ(-32768, convert<float>(-7.0f, format));
        EXPECT_EQ(16384, convert<float>(0.5f, format));
        EXPECT_EQ(0, convert<float>(std::numeric_limits<float>::quiet_NaN(), format));
        EXPECT_EQ(32767, convert<float>(std::numeric_limits<float>::infinity(), format));
    }
    // Truncation toward zero, not rounding.
    EXPECT_EQ(-1, convert<double>(-1.9 / 32768.0, AV_SAMPLE_FMT_DBL));
    EXPECT_EQ(32767, convert<double>(1.0, AV_SAMPLE_FMT_DBLP));
    EXPECT_EQ(-32768, convert<double>(-1e300, AV_SAMPLE_FMT_DBL));
}

TEST(ConvertSample, IntegerFormats) {
    EXPECT_EQ(-1234, convert<int16_t>(-1234, AV_SAMPLE_FMT_S16));
    EXPECT_EQ(32767, convert<int16_t>(32767, AV_SAMPLE_FMT_S16P));
    EXPECT_EQ(32767, convert<int32_t>(std::numeric_limits<int32_t>::max(), AV_SAMPLE_FMT_S32));
    EXPECT_EQ(-32768, convert<int32_t>(std::numeric_limits<int32_t>::min(), AV_SAMPLE_FMT_S32P));
    EXPECT_EQ(1, convert<int32_t>(65536 + 100, AV_SAMPLE_FMT_S32));
}

TEST(ConvertSample, UnknownFormatsAndMissingSamplesGiveZero) {
    EXPECT_EQ(0, convert<int64_t>(12345678, AV_SAMPLE_FMT_S64));
    EXPECT_EQ(0, Avhandler::ConvertSample(nullptr, AV_SAMPLE_FMT_S16));
    EXPECT_EQ(0, Avhandler::GetBitsPerSample(AV_SAMPLE_FMT_S64));
    EXPECT_EQ(64, Avhandler::GetBitsPerSample(AV_SAMPLE_FMT_DBLP));
    EXPECT_EQ(8, Avhandler::GetBitsPerSample(AV_SAMPLE_FMT_U8P));
}

} // namespace
