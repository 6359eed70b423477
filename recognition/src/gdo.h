#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace recog {

// An immutable tree of result data: values by key and ordinal, children by
// key and ordinal (both from 1). Value texts live as long as the node.
class GdoNode {
public:
    explicit GdoNode(std::string context)
        : context_(std::move(context)) {}

    // Empty values are not stored: a missing value reads as "not found".
    void addValue(std::string key, std::string value);
    void addChild(std::string key, std::shared_ptr<const GdoNode> child);

    const std::string &context() const { return context_; }
    const std::string *value(const std::string &key, size_t ordinal) const;
    size_t childCount(const std::string &key) const;
    std::shared_ptr<const GdoNode> child(const std::string &key, size_t ordinal) const;

private:
    std::string context_;
    std::vector<std::pair<std::string, std::string>> values_;
    std::vector<std::pair<std::string, std::shared_ptr<const GdoNode>>> children_;
};

} // namespace recog
