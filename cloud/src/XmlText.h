// Text for an XML document that we write: the five special characters as
// entities, and what XML cannot carry at all replaced.
#pragma once

#include <string>
#include <string_view>

namespace cloud {

void appendXmlEscaped(std::string &out, std::string_view raw);
std::string xmlEscaped(std::string_view raw);

} // namespace cloud
