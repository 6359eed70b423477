#pragma once

#include "catalog.h"
#include "json_reader.h"

#include <string>

namespace recog {

struct ImportSummary {
    int tracks = 0;
    int albums = 0;
    int contributors = 0;
    std::vector<std::string> unmatched; // entries that name nothing in the catalogue
};

// Applies descriptive values from a JSON document to a catalogue, in one
// transaction (nothing is changed when the document is malformed):
//   {"tracks":       [{"gnid" | "tui"+"tui_tag": ..., "genre": [l1, l2, l3],
//                      "mood": [l1, l2], "tempo": [l1, l2, l3],
//                      "external_ids": [{"type", "source", "value"}]}],
//    "albums":       [{"gnid" | "title"(+"artist"): ..., "genre": [...], "label": ...,
//                      "external_ids": [...]}],
//    "contributors": [{"gnuid" | "name": ..., "era": [l1, l2, l3],
//                      "origin": [l1, l2, l3, l4]}]}
bool importValues(Catalog &catalog, const JsonValue &doc, ImportSummary &summary,
                  std::string &error);

} // namespace recog
