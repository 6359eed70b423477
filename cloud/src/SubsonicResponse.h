// Answers of the music-player API as one tree, written as XML or as JSON the
// way the API documents both: attributes become members, repeated children
// JSON arrays, an element's text the member "value".
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace cloud::subsonic {

using Scalar = std::variant<std::string, std::int64_t, bool, double>;

class Element {
public:
    explicit Element(std::string name)
        : name_(std::move(name)) {}

    // One overload per kind, so that a bool or an int never turns into another.
    Element &set(const std::string &key, std::string value) { return setScalar(key, value); }
    Element &set(const std::string &key, const char *value) {
        return setScalar(key, std::string(value));
    }
    Element &set(const std::string &key, std::int64_t value) { return setScalar(key, value); }
    Element &set(const std::string &key, int value) { return setScalar(key, std::int64_t{value}); }
    Element &set(const std::string &key, bool value) { return setScalar(key, value); }
    Element &set(const std::string &key, double value) { return setScalar(key, value); }
    Element &setText(std::string text);
    // A child that appears once (a JSON object).
    Element &child(const std::string &name);
    // One more element of a list (a JSON array, also when it holds one).
    Element &item(const std::string &name);
    // Makes the list exist even when it stays empty.
    void list(const std::string &name);
    // One more plain value of a list: an element holding it as text in XML,
    // the value itself in JSON (`"versions": [1]`).
    void value(const std::string &name, Scalar v);

    struct Group {
        std::string name;
        bool isList = false;
        std::deque<Element> items; // references to items stay valid as more are added
    };
    const std::string &name() const { return name_; }
    const std::vector<std::pair<std::string, Scalar>> &attributes() const { return attributes_; }
    const std::optional<std::string> &text() const { return text_; }
    const std::optional<Scalar> &plainValue() const { return plain_; }
    const std::deque<Group> &groups() const { return groups_; }

private:
    Element &setScalar(const std::string &key, Scalar value);
    Group &group(const std::string &name, bool isList);
    std::string name_;
    std::vector<std::pair<std::string, Scalar>> attributes_;
    std::optional<std::string> text_;
    std::optional<Scalar> plain_;
    std::deque<Group> groups_;
};

inline constexpr const char *kApiVersion = "1.16.1";

// The "subsonic-response" root of a successful answer, or of a failed one.
Element okResponse();
Element errorResponse(int code, const std::string &message);

std::string toXml(const Element &root);
std::string toJson(const Element &root);

} // namespace cloud::subsonic
