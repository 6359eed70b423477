// How the server opens a stored file with FFmpeg. Stored files come from
// anyone with an account, so they are read only as one of the audio
// containers the server accepts, and through an AVIOContext over the
// object's bytes: no protocol is ever opened, so a playlist (HLS, a concat
// list) cannot make the demuxer open whatever path or address it names and
// send that as the song.
#pragma once

#include "AvHandles.h"
#include "objects/ObjectStore.h"

#include <memory>

#include <string>

namespace cloud {

// FFmpeg's demuxer names for every kind of file the desktop client uploads
// (mp3 and mpa: mp3; m4a: mov; aac; aif: aiff; iff; ra: rm; wav; wma: asf;
// ogg; flac), and Matroska audio.
inline constexpr const char *kAcceptedContainers =
    "mp3,flac,ogg,mov,wav,aiff,asf,matroska,aac,rm,iff";

enum class Probe {
    Quick,    // the first 64 KiB: an audio container announces itself there
    Thorough, // FFmpeg's defaults, for exact figures
};

// The object opened as an accepted container; null when it is not one (or
// `reader` is null). The format context owns the reader.
av::Format openStoredFile(std::unique_ptr<objects::ObjectReader> reader,
                          Probe probe = Probe::Thorough);
// A local file read the same way.
av::Format openStoredFile(const std::string &path, Probe probe = Probe::Thorough);

// Reads the streams' parameters. Probing decodes a frame of every stream, a
// cover picture too, at its full size: here no decoder may take a picture.
bool findStreamInfo(AVFormatContext *format);

// Whether the file is audio of an accepted container that decodes: its
// first audio packets give at least one frame. Reads a bounded amount.
bool decodesAsAudio(std::unique_ptr<objects::ObjectReader> reader);

} // namespace cloud
