#include "gdo.h"

namespace recog {

void GdoNode::addValue(std::string key, std::string value) {
    if (!value.empty())
        values_.emplace_back(std::move(key), std::move(value));
}

void GdoNode::addChild(std::string key, std::shared_ptr<const GdoNode> child) {
    if (child)
        children_.emplace_back(std::move(key), std::move(child));
}

const std::string *GdoNode::value(const std::string &key, size_t ordinal) const {
    for (const auto &[k, v] : values_)
        if (k == key && --ordinal == 0)
            return &v;
    return nullptr;
}

size_t GdoNode::childCount(const std::string &key) const {
    size_t n = 0;
    for (const auto &c : children_)
        n += c.first == key;
    return n;
}

std::shared_ptr<const GdoNode> GdoNode::child(const std::string &key, size_t ordinal) const {
    for (const auto &[k, c] : children_)
        if (k == key && --ordinal == 0)
            return c;
    return nullptr;
}

} // namespace recog
