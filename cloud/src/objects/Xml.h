// The few elements the object store's answers carry, read into a small tree
// (element names without their namespace, and each element's own text).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cloud::objects::xml {

struct Node {
    std::string name;
    std::string text; // the element's text, without that of its children
    std::vector<Node> children;

    // The first child of that name, or null.
    const Node *child(std::string_view childName) const;
    // Its text, or empty when there is no such child.
    std::string childText(std::string_view childName) const;
    std::vector<const Node *> all(std::string_view childName) const;
};

// The document's root element; nullopt when the text is not well-formed XML.
// Never fetches anything a document names.
std::optional<Node> parse(std::string_view document);

} // namespace cloud::objects::xml
