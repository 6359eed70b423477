// Single pictures made in the server (scaled covers, generated ones), encoded
// with FFmpeg's image encoders.
#pragma once

#include "AvHandles.h"

#include <optional>
#include <string>

namespace cloud::av {

// A picture to fill, of that size and pixel format; null when out of memory.
Frame makeFrame(int width, int height, AVPixelFormat format);

// The frame as one JPEG (AV_CODEC_ID_MJPEG, from YUVJ420P, at a fixed good
// quality) or PNG (AV_CODEC_ID_PNG, from RGB24); nullopt when it fails.
std::optional<std::string> encodePicture(const AVFrame &frame, AVCodecID codec);

} // namespace cloud::av
