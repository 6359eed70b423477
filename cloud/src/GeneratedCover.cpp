#include "GeneratedCover.h"

#include "ImageEncoder.h"
#include "TextFold.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace cloud {

namespace {

// A 5 × 7 pixel face for what initials can be: rows top down, bit 4 leftmost.
using Glyph = std::array<std::uint8_t, 7>;

const Glyph &glyphOf(char c) {
    static const Glyph kLetters[26] = {
        {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, // A
        {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}, // B
        {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, // C
        {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}, // D
        {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, // E
        {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}, // F
        {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, // G
        {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, // H
        {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, // I
        {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}, // J
        {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, // K
        {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}, // L
        {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, // M
        {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}, // N
        {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, // O
        {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}, // P
        {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, // Q
        {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}, // R
        {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, // S
        {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, // T
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, // U
        {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}, // V
        {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, // W
        {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}, // X
        {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}, // Y
        {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}, // Z
    };
    static const Glyph kDigits[10] = {
        {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, // 0
        {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}, // 1
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, // 2
        {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}, // 3
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, // 4
        {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}, // 5
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, // 6
        {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, // 7
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, // 8
        {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}, // 9
    };
    static const Glyph kHash = {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A};
    if (c >= 'A' && c <= 'Z')
        return kLetters[c - 'A'];
    if (c >= '0' && c <= '9')
        return kDigits[c - '0'];
    return kHash;
}

struct Rgb {
    double r, g, b;
};

// Hue in degrees; saturation and lightness from 0 to 1.
Rgb fromHsl(double hue, double saturation, double lightness) {
    const double c = (1 - std::abs(2 * lightness - 1)) * saturation;
    const double h = std::fmod(hue, 360) / 60;
    const double x = c * (1 - std::abs(std::fmod(h, 2) - 1));
    const double m = lightness - c / 2;
    const Rgb sector[6] = {{c, x, 0}, {x, c, 0}, {0, c, x}, {0, x, c}, {x, 0, c}, {c, 0, x}};
    const Rgb &s = sector[std::min(5, static_cast<int>(h))];
    return {(s.r + m) * 255, (s.g + m) * 255, (s.b + m) * 255};
}

// FNV-1a: a name's colours must not change between runs or versions.
std::uint64_t fingerprint(const std::string &text) {
    std::uint64_t h = 1469598103934665603ull;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

} // namespace

std::string coverInitials(const std::string &name) {
    std::string out;
    bool wordStart = true;
    for (const char c : foldForSorting(name)) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (alnum && wordStart && out.size() < 2)
            out += static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
        wordStart = c == ' ' || c == '-' || c == '_' || c == '/';
    }
    return out.empty() ? "#" : out;
}

std::optional<Picture> generatedCover(const std::string &name, int size) {
    if (size <= 0)
        size = kGeneratedCoverSize;
    size = std::max(size, 16);
    const std::uint64_t h = fingerprint(name);
    const double hue = static_cast<double>(h % 360);
    const double shift = 30 + static_cast<double>((h >> 16) % 90);
    const Rgb from = fromHsl(hue, 0.55, 0.42);
    const Rgb to = fromHsl(hue + shift, 0.6, 0.26);

    const av::Frame frame = av::makeFrame(size, size, AV_PIX_FMT_RGB24);
    if (!frame)
        return std::nullopt;
    for (int y = 0; y < size; ++y) {
        std::uint8_t *row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < size; ++x) {
            const double t = static_cast<double>(x + y) / (2.0 * (size - 1));
            row[3 * x] = static_cast<std::uint8_t>(from.r + (to.r - from.r) * t);
            row[3 * x + 1] = static_cast<std::uint8_t>(from.g + (to.g - from.g) * t);
            row[3 * x + 2] = static_cast<std::uint8_t>(from.b + (to.b - from.b) * t);
        }
    }

    // The initials about a third of the height, centred, with a soft shadow.
    const std::string initials = coverInitials(name);
    const int n = static_cast<int>(initials.size());
    const int scale = std::max(1, size * 34 / 100 / 7);
    const int width = (n * 6 - 1) * scale;
    const int left = (size - width) / 2;
    const int top = (size - 7 * scale) / 2;
    const auto paint = [&](int dx, int dy, std::uint8_t value, double alpha) {
        for (int i = 0; i < n; ++i) {
            const Glyph &g = glyphOf(initials[static_cast<std::size_t>(i)]);
            for (int gy = 0; gy < 7; ++gy) {
                for (int gx = 0; gx < 5; ++gx) {
                    if (!(g[static_cast<std::size_t>(gy)] & (0x10 >> gx)))
                        continue;
                    for (int py = 0; py < scale; ++py) {
                        const int y = top + dy + gy * scale + py;
                        std::uint8_t *row =
                            frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
                        for (int px = 0; px < scale; ++px) {
                            const int x = left + dx + (i * 6 + gx) * scale + px;
                            if (x < 0 || y < 0 || x >= size || y >= size)
                                continue;
                            for (int ch = 0; ch < 3; ++ch) {
                                std::uint8_t &p = row[3 * x + ch];
                                p = static_cast<std::uint8_t>(p + (value - p) * alpha);
                            }
                        }
                    }
                }
            }
        }
    };
    const int shadow = std::max(1, scale / 3);
    paint(shadow, shadow, 0, 0.35);
    paint(0, 0, 255, 0.92);

    auto png = av::encodePicture(*frame, AV_CODEC_ID_PNG);
    if (!png)
        return std::nullopt;
    return Picture{std::move(*png), "image/png"};
}

} // namespace cloud
