#pragma once

#include <string>

namespace recog {

// Converts a catalogue of format 1 (fingerprints and postings in the
// database) in place to the current format: the first kStoredItems items of
// each fingerprint go to a new index file, the old tables go, and the
// database is compacted. Identifiers and descriptive values are unchanged.
// False with a reason (and the catalogue untouched) when it is not a format-1
// catalogue or cannot be converted.
bool upgradeCatalog(const std::string &path, int &tracks, std::string &error);

} // namespace recog
