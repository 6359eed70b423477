#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace recog {

// A parsed JSON value. Numbers keep their text; objects keep member order
// irrelevant (looked up by name).
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text; // string contents or number text
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    const JsonValue *member(const std::string &name) const;
    // The member as text ("" when missing or not a string/number).
    std::string string(const std::string &name) const;
};

// Strict JSON (RFC 8259, read by nlohmann-json) with valid UTF-8 and a limit
// of 64 nested arrays and objects; false with "JSON error at byte N: reason"
// for the first error.
bool parseJson(std::string_view text, JsonValue &out, std::string &error);

} // namespace recog
