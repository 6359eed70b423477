#pragma once
// Audio files made at test time with ffmpeg, in a temporary folder of the
// test process that is removed when it exits.

#include <cstddef>
#include <string>

namespace testaudio {

// The process's temporary folder.
const std::string &folder();
// Runs "ffmpeg <input arguments> <folder>/<name>" once per name and returns
// the path; empty when ffmpeg failed.
std::string make(const std::string &name, const std::string &arguments);
// A sine of the given length, 44.1 kHz stereo, in the format of the name's
// extension.
std::string sine(const std::string &name, double seconds);
// The first bytes of another file.
std::string truncated(const std::string &source, std::size_t bytes, const std::string &name);
// Bytes that are no audio at all.
std::string noise(const std::string &name, std::size_t bytes);
std::string text(const std::string &name, const std::string &content);

} // namespace testaudio
