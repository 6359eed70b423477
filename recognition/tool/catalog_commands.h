#pragma once

#include "audio_decoder.h"
#include "catalog_writer.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace recog {

// Seconds of each file that are fingerprinted for the catalogue.
inline constexpr double kCatalogSeconds = 180.0;
// Seconds of each file that are fingerprinted for a query.
inline constexpr double kQuerySeconds = 45.0;

// Values given on the command line override those read from the tags.
struct AddOverrides {
    std::string album;
    std::string artist;
    std::string label;
    std::string genre;
};

// The catalogue entry for one audio file: decoded, fingerprinted, tagged.
bool prepareTrack(const std::string &path, const AddOverrides &overrides, NewTrack &out,
                  std::string &error);

int commandCreate(const std::string &db, std::ostream &out, std::ostream &err);
int commandAdd(const std::string &db, const std::vector<std::string> &files,
               const AddOverrides &overrides, std::ostream &out, std::ostream &err);
int commandImport(const std::string &db, const std::string &json, std::ostream &out,
                  std::ostream &err);
int commandIdentify(const std::string &db, const std::vector<std::string> &files, std::ostream &out,
                    std::ostream &err);
int commandUpgrade(const std::string &db, std::ostream &out, std::ostream &err);
int commandStats(const std::string &db, std::ostream &out, std::ostream &err);

} // namespace recog
