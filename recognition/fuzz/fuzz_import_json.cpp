// Values documents for the catalogue tool come from anywhere: any bytes must
// give a document or a refusal in the tool's words, never a fault. What is
// accepted must be exactly the JSON texts the library accepts whose values lie
// inside at most 64 arrays and objects, read to the same values.
#include "json_reader.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string_view>

namespace {

bool withinDepth(const nlohmann::json &j, int depth) {
    if (depth > 64)
        return false;
    if (j.is_structured())
        for (const auto &item : j)
            if (!withinDepth(item, depth + 1))
                return false;
    return true;
}

bool same(const recog::JsonValue &v, const nlohmann::json &j) {
    using Kind = recog::JsonValue::Kind;
    switch (v.kind) {
    case Kind::Null:
        return j.is_null();
    case Kind::Bool:
        return j.is_boolean() && j.get<bool>() == v.boolean;
    case Kind::String:
        return j.is_string() && j.get_ref<const std::string &>() == v.text;
    case Kind::Number: // the text kept must be the number that was read
        return j.is_number() && nlohmann::json::parse(v.text, nullptr, false) == j;
    case Kind::Array:
        if (!j.is_array() || j.size() != v.items.size())
            return false;
        for (size_t i = 0; i < v.items.size(); ++i)
            if (!same(v.items[i], j[i]))
                return false;
        return true;
    case Kind::Object:
        if (!j.is_object() || j.size() != v.members.size())
            return false;
        for (const auto &[name, member] : v.members)
            if (!j.contains(name) || !same(member, j.at(name)))
                return false;
        return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::regex refusal(
        "JSON error at byte ([0-9]+): (unexpected end|unexpected text|expected a value|"
        "unknown literal|expected a member name|expected :|expected , or \\]|expected , or \\}|"
        "nested too deeply|control character in string|bad escape|short escape|"
        "bad surrogate pair|unterminated string|invalid UTF-8|bad number|number out of range)");
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    recog::JsonValue doc;
    std::string error;
    const bool accepted = recog::parseJson(text, doc, error);
    const nlohmann::json reference = nlohmann::json::parse(text, nullptr, false);
    // The library stops at a NUL byte; JSON text never holds one.
    const bool valid = !reference.is_discarded() && withinDepth(reference, 0) &&
                       text.find('\0') == std::string_view::npos;
    if (accepted != valid)
        std::abort();
    if (accepted) {
        if (!same(doc, reference))
            std::abort();
        return 0;
    }
    std::smatch m;
    if (!std::regex_match(error, m, refusal) || std::stoull(m[1].str()) > size)
        std::abort();
    return 0;
}
