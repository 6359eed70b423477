// A cover for an album that has none: drawn from its name, so that albums
// without art still look apart in a grid and each always looks the same.
#pragma once

#include "CoverArt.h"

#include <optional>
#include <string>

namespace cloud {

// A square PNG of `size` pixels (0: kGeneratedCoverSize): a diagonal blend of
// two colours chosen by the name, and its initials (up to two, accents set
// aside; "#" when it has none) drawn large in white.
inline constexpr int kGeneratedCoverSize = 600;
std::optional<Picture> generatedCover(const std::string &name, int size);

// The initials that cover shows.
std::string coverInitials(const std::string &name);

} // namespace cloud
