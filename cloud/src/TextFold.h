// Names as people sort them: accents and case set aside, so that "Émile"
// files under E beside "Emma" and not after Z.
#pragma once

#include <string>
#include <string_view>

namespace cloud {

// Lower-case ASCII, with the Latin letters of Latin-1 and Latin Extended-A
// folded to their base letters ("Æsir" → "aesir"); other characters kept.
std::string foldForSorting(std::string_view utf8);

// The letter a name files under, "A" to "Z", or "#" for anything else.
std::string indexLetter(std::string_view utf8);

} // namespace cloud
