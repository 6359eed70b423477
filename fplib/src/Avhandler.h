#pragma once

#include <cstddef>
#include <cstdint>

class FileMetadata;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

// The header at the start of a sample block; the interleaved signed 16-bit
// PCM follows it.
struct SampleBlockHeader {
    int32_t sampleRate;
    int32_t channels;
    int32_t frameCount;
};

// Decodes the first 45 seconds of sound of an audio file (after leading
// near-silence, at most two channels, signed 16-bit) into a sample block it
// owns, and computes the MD5 digest of whole files.
class Avhandler {
public:
    static constexpr std::size_t SampleBlockBytes = 8832048;
    static constexpr std::size_t SampleBlockHeaderBytes = 12;
    static constexpr int32_t SampleBlockCapacity = 4416018; // samples after the header
    static constexpr int32_t SecondsDecoded = 45;

    Avhandler();
    ~Avhandler();
    Avhandler(const Avhandler &) = delete;
    Avhandler &operator=(const Avhandler &) = delete;

    int Init();
    int OpenInputFile(const char *path);
    static int GetBitsPerSample(int format);
    static int16_t ConvertSample(const uint8_t *sample, int format);
    int DecodePacket(AVFrame *frame, AVPacket *packet, int *gotFrame);
    // The sample block (header and PCM) or null when nothing usable was
    // decoded. Valid until the next ReadFile or the handler's destruction.
    const uint8_t *ReadFile(const char *path, FileMetadata *metadata);
    // 0 with a newly allocated 33-byte lower-case hex text in *out (free()),
    // or -1.
    static int ComputeMD5Sum(const char *path, char **out);

    static SampleBlockHeader ReadHeader(const uint8_t *block);
    static const int16_t *Samples(const uint8_t *block) {
        return reinterpret_cast<const int16_t *>(block + SampleBlockHeaderBytes);
    }

private:
    void StoreFrame(const AVFrame *frame);
    template <int16_t (*Convert)(const uint8_t *)> void StoreFrameAs(const AVFrame *frame);
    bool Saturated() const;
    void CloseInput();

    AVFormatContext *formatContext = nullptr;
    AVCodecContext *codecContext = nullptr;
    int32_t streamIndex = -1;
    int16_t leadingSilenceDone = 0;
    int32_t channels = 0;
    int32_t bitsPerSample = 0;
    int32_t isPlanar = 0;
    int32_t frameCount = 0;
    uint8_t *sampleBlock = nullptr;
    int32_t sampleRate = 0;
    int64_t frameLimit = 0;
    // Set when the block cannot take another frame: decoding stops there
    // rather than writing past the block (sources above 48 kHz stereo).
    bool blockFull = false;
};
