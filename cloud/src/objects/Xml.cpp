#include "Xml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <memory>

namespace cloud::objects::xml {

namespace {

// Answers are a few levels deep; a deeper one is no answer of a store.
constexpr int kDeepest = 32;

bool convert(const xmlNode *from, Node &to, int depth) {
    if (depth > kDeepest)
        return false;
    to.name = reinterpret_cast<const char *>(from->name);
    for (const xmlNode *c = from->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
            to.children.emplace_back();
            if (!convert(c, to.children.back(), depth + 1))
                return false;
        } else if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content) {
            to.text += reinterpret_cast<const char *>(c->content);
        }
    }
    return true;
}

struct DocFree {
    void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};

} // namespace

const Node *Node::child(std::string_view childName) const {
    for (const Node &c : children) {
        if (c.name == childName)
            return &c;
    }
    return nullptr;
}

std::string Node::childText(std::string_view childName) const {
    const Node *c = child(childName);
    return c ? c->text : std::string();
}

std::vector<const Node *> Node::all(std::string_view childName) const {
    std::vector<const Node *> found;
    for (const Node &c : children) {
        if (c.name == childName)
            found.push_back(&c);
    }
    return found;
}

std::optional<Node> parse(std::string_view document) {
    if (document.size() > INT_MAX)
        return std::nullopt;
    // No network, no external entities, no messages on standard error.
    const std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    const xmlNode *root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    Node node;
    if (!root || !convert(root, node, 0))
        return std::nullopt;
    return node;
}

} // namespace cloud::objects::xml
