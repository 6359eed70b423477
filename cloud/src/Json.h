// A small JSON document model with a strict parser and a compact serializer.
// The server reads every request body through it, so the parser is defensive:
// it bounds nesting depth, rejects invalid UTF-8 and never throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cloud::json {

class Value;
using Array = std::vector<Value>;
// Member order is kept, so replies read in the order they were built.
using Object = std::vector<std::pair<std::string, Value>>;

class Value {
public:
    enum class Type { Null, Bool, Integer, Double, String, Array, Object };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b)
        : data_(b) {}
    Value(int i)
        : data_(static_cast<std::int64_t>(i)) {}
    Value(std::int64_t i)
        : data_(i) {}
    Value(double d)
        : data_(d) {}
    Value(const char *s)
        : data_(std::string(s)) {}
    Value(std::string s)
        : data_(std::move(s)) {}
    Value(std::string_view s)
        : data_(std::string(s)) {}
    Value(Array a)
        : data_(std::move(a)) {}
    Value(Object o)
        : data_(std::move(o)) {}

    Type type() const { return static_cast<Type>(data_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isNumber() const { return type() == Type::Integer || type() == Type::Double; }
    bool isString() const { return type() == Type::String; }
    bool isArray() const { return type() == Type::Array; }
    bool isObject() const { return type() == Type::Object; }

    bool asBool() const { return std::get<bool>(data_); }
    std::int64_t asInteger() const { return std::get<std::int64_t>(data_); }
    double asDouble() const;
    const std::string &asString() const { return std::get<std::string>(data_); }
    const Array &asArray() const { return std::get<Array>(data_); }
    Array &asArray() { return std::get<Array>(data_); }
    const Object &asObject() const { return std::get<Object>(data_); }
    Object &asObject() { return std::get<Object>(data_); }

    // Object member lookup; nullptr when this is not an object or has no such member.
    const Value *find(std::string_view key) const;
    // Appends (or replaces) a member; turns a null value into an object first.
    Value &set(std::string_view key, Value v);

    bool operator==(const Value &other) const = default;

private:
    std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Array, Object> data_;
};

struct ParseError {
    std::size_t offset = 0;
    std::string message;
};

inline constexpr int kMaxDepth = 64;

// Parses one complete JSON text (surrounding white space allowed).
std::optional<Value> parse(std::string_view text, ParseError *error = nullptr);

// Compact form, strings escaped so that the output is always valid JSON in UTF-8.
std::string serialize(const Value &value);

// Checks that the bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool isValidUtf8(std::string_view text);
// The text with every malformed UTF-8 byte replaced by U+FFFD.
std::string toValidUtf8(std::string_view text);

} // namespace cloud::json
