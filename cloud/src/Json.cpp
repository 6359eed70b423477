#include "Json.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace cloud::json {

double Value::asDouble() const {
    if (type() == Type::Integer)
        return static_cast<double>(std::get<std::int64_t>(data_));
    return std::get<double>(data_);
}

const Value *Value::find(std::string_view key) const {
    if (!isObject())
        return nullptr;
    for (const auto &[name, value] : asObject()) {
        if (name == key)
            return &value;
    }
    return nullptr;
}

Value &Value::set(std::string_view key, Value v) {
    if (isNull())
        data_ = Object{};
    auto &object = asObject();
    for (auto &[name, value] : object) {
        if (name == key) {
            value = std::move(v);
            return value;
        }
    }
    object.emplace_back(std::string(key), std::move(v));
    return object.back().second;
}

namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when it is malformed.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80)
        return 1;
    std::size_t len = 0;
    std::uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

// Builds the document model straight from the library's event parser, so a
// deep or large document is never held twice and nesting stops at kMaxDepth.
class Builder : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return add(Value()); }
    bool boolean(bool v) override { return add(Value(v)); }
    bool number_integer(number_integer_t v) override { return add(Value(std::int64_t(v))); }
    bool number_unsigned(number_unsigned_t v) override {
        if (v <= static_cast<number_unsigned_t>(INT64_MAX))
            return add(Value(static_cast<std::int64_t>(v)));
        return add(Value(static_cast<double>(v)));
    }
    bool number_float(number_float_t v, const string_t &) override { return add(Value(v)); }
    bool string(string_t &v) override { return add(Value(std::move(v))); }
    bool binary(binary_t &) override { return false; }
    bool start_object(std::size_t) override { return open(Value(Object{})); }
    bool key(string_t &k) override {
        key_ = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Value(Array{})); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string &,
                     const nlohmann::detail::exception &ex) override {
        error.offset = position > 0 ? position - 1 : 0;
        std::string what = ex.what();
        // "[json.exception.parse_error.101] parse error at line 1, column 2: text"
        if (const auto colon = what.find(": "); colon != std::string::npos)
            what.erase(0, colon + 2);
        error.message = what.empty() ? "malformed JSON" : what;
        return false;
    }

    std::optional<Value> root;
    ParseError error;

private:
    bool add(Value v) {
        if (stack_.empty()) {
            root = std::move(v);
            return true;
        }
        Value &parent = *stack_.back();
        if (parent.isArray()) {
            parent.asArray().push_back(std::move(v));
        } else {
            // Duplicate members: the last one counts, as in most readers.
            parent.set(key_, std::move(v));
        }
        return true;
    }

    Value *slotOfLast() {
        if (stack_.empty())
            return &*root;
        Value &parent = *stack_.back();
        if (parent.isArray())
            return &parent.asArray().back();
        for (auto &[name, value] : parent.asObject()) {
            if (name == key_)
                return &value;
        }
        return nullptr;
    }

    bool open(Value container) {
        if (static_cast<int>(stack_.size()) >= kMaxDepth) {
            error.message = "nesting deeper than " + std::to_string(kMaxDepth) + " levels";
            return false;
        }
        add(std::move(container));
        stack_.push_back(slotOfLast());
        return true;
    }

    bool close() {
        stack_.pop_back();
        return true;
    }

    std::vector<Value *> stack_;
    std::string key_;
};

nlohmann::ordered_json toLibrary(const Value &v) {
    switch (v.type()) {
    case Value::Type::Null:
        return nullptr;
    case Value::Type::Bool:
        return v.asBool();
    case Value::Type::Integer:
        return v.asInteger();
    case Value::Type::Double:
        return v.asDouble();
    case Value::Type::String:
        return v.asString();
    case Value::Type::Array: {
        auto out = nlohmann::ordered_json::array();
        for (const auto &item : v.asArray())
            out.push_back(toLibrary(item));
        return out;
    }
    case Value::Type::Object: {
        auto out = nlohmann::ordered_json::object();
        for (const auto &[key, item] : v.asObject())
            out[toValidUtf8(key)] = toLibrary(item);
        return out;
    }
    }
    return nullptr;
}

} // namespace

std::optional<Value> parse(std::string_view text, ParseError *error) {
    // The library takes a NUL byte for the end of the text and would accept
    // "{...}\0anything"; JSON never holds a raw NUL, so it is refused here.
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        if (error)
            *error = ParseError{nul, "NUL byte in the text"};
        return std::nullopt;
    }
    Builder builder;
    const bool ok = nlohmann::json::sax_parse(text, &builder, nlohmann::json::input_format_t::json,
                                              true, false);
    if (ok && builder.root)
        return std::move(builder.root);
    if (error) {
        *error = builder.error;
        error->offset = std::min(error->offset, text.size());
        if (error->message.empty())
            error->message = "malformed JSON";
    }
    return std::nullopt;
}

std::string serialize(const Value &value) {
    // Malformed UTF-8 in a string becomes U+FFFD: the output is always valid JSON.
    return toLibrary(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8SequenceLength(text, i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::string toValidUtf8(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8SequenceLength(text, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

} // namespace cloud::json
