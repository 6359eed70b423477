#include "json_reader.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace recog {

const JsonValue *JsonValue::member(const std::string &name) const {
    const auto it = members.find(name);
    return it == members.end() ? nullptr : &it->second;
}

std::string JsonValue::string(const std::string &name) const {
    const JsonValue *v = member(name);
    return v && (v->kind == Kind::String || v->kind == Kind::Number) ? v->text : std::string();
}

namespace {

// A value inside more containers than this is refused.
constexpr size_t kMaxDepth = 64;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Builds JsonValues from the library's events. The events carry no byte
// offsets, so the builder follows them through the text: each event stands
// for a token the library has already accepted, which makes finding its
// extent simple. The offsets give errors the position the tool has always
// reported: the start of the offending token, or the offending byte inside a
// string.
class Builder : public nlohmann::json_sax<nlohmann::json> {
public:
    Builder(std::string_view text, JsonValue &root)
        : s_(text)
        , root_(root) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") // the library skips a byte order mark
            end_ = 3;
    }

    bool null() override { return add(JsonValue::Kind::Null, 4) != nullptr; }
    bool boolean(bool v) override {
        JsonValue *value = add(JsonValue::Kind::Bool, v ? 4 : 5);
        if (value)
            value->boolean = v;
        return value != nullptr;
    }
    bool number_integer(number_integer_t) override { return number(); }
    bool number_unsigned(number_unsigned_t) override { return number(); }
    bool number_float(number_float_t, const string_t &) override { return number(); }
    bool string(string_t &v) override {
        JsonValue *value = add(JsonValue::Kind::String, stringLength(next()));
        if (value)
            value->text = std::move(v);
        return value != nullptr;
    }
    bool binary(binary_t &) override { return false; }
    bool start_object(std::size_t) override { return open(JsonValue::Kind::Object); }
    bool start_array(std::size_t) override { return open(JsonValue::Kind::Array); }
    bool key(string_t &k) override {
        const size_t at = next();
        end_ = at + stringLength(at);
        afterOpen_ = false;
        key_ = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    // The library takes a NUL byte for the end of the input: whatever
    // follows the document must still be white space alone.
    bool finish() {
        afterOpen_ = true;
        const size_t at = next();
        return at == s_.size() || fail(at, "unexpected text");
    }

    bool parse_error(std::size_t position, const std::string &,
                     const nlohmann::detail::exception &ex) override {
        describe(position, ex);
        return false;
    }

    std::string error;

private:
    // Where the next token starts: after white space, and after the separator
    // that the library has taken when a value or a name is what it reads.
    size_t next(bool valueOrName = true) const {
        size_t i = end_;
        const auto skipSpace = [&] {
            while (i < s_.size() &&
                   (s_[i] == ' ' || s_[i] == '\t' || s_[i] == '\n' || s_[i] == '\r'))
                ++i;
        };
        skipSpace();
        if (valueOrName && !afterOpen_ && i < s_.size() && (s_[i] == ',' || s_[i] == ':')) {
            ++i;
            skipSpace();
        }
        return i;
    }

    // Extent of an accepted string token (quotes included) starting at `at`.
    size_t stringLength(size_t at) const {
        size_t i = at + 1;
        while (i < s_.size() && s_[i] != '"')
            i += s_[i] == '\\' ? 2 : 1;
        return std::min(i + 1, s_.size()) - at;
    }

    // Extent of an accepted number token starting at `at`.
    size_t numberLength(size_t at) const {
        size_t i = at;
        const auto digits = [&] {
            while (i < s_.size() && isDigit(s_[i]))
                ++i;
        };
        if (i < s_.size() && s_[i] == '-')
            ++i;
        if (i < s_.size() && s_[i] == '0')
            ++i;
        else
            digits();
        if (i < s_.size() && s_[i] == '.') {
            ++i;
            digits();
        }
        if (i < s_.size() && (s_[i] == 'e' || s_[i] == 'E')) {
            ++i;
            if (i < s_.size() && (s_[i] == '+' || s_[i] == '-'))
                ++i;
            digits();
        }
        return i - at;
    }

    bool fail(size_t at, const char *why) {
        error = "JSON error at byte " + std::to_string(at) + ": " + why;
        return false;
    }

    // Places a new value of `kind` whose token is `length` bytes long; null
    // when it lies too deep.
    JsonValue *add(JsonValue::Kind kind, size_t length) {
        const size_t at = next();
        end_ = at + length;
        afterOpen_ = kind == JsonValue::Kind::Array || kind == JsonValue::Kind::Object;
        if (stack_.size() > kMaxDepth) {
            fail(at, "nested too deeply");
            return nullptr;
        }
        JsonValue *slot = &root_;
        if (!stack_.empty() && stack_.back()->kind == JsonValue::Kind::Array)
            slot = &stack_.back()->items.emplace_back();
        else if (!stack_.empty())
            slot = &(stack_.back()->members[key_] = JsonValue{}); // the last of equal names counts
        slot->kind = kind;
        return slot;
    }

    bool number() {
        const size_t at = next();
        const size_t length = numberLength(at);
        JsonValue *value = add(JsonValue::Kind::Number, length);
        // The text as written: no rounding through a double, "-0" and "1.50" kept.
        if (value)
            value->text = std::string(s_.substr(at, length));
        return value != nullptr;
    }

    bool open(JsonValue::Kind kind) {
        JsonValue *value = add(kind, 1);
        if (value)
            stack_.push_back(value);
        return value != nullptr;
    }

    bool close() {
        end_ = next() + 1;
        afterOpen_ = false;
        stack_.pop_back();
        return true;
    }

    // The library's message reads "... syntax error while parsing CONTEXT -
    // DETAIL[; expected WHAT]"; CONTEXT and the start of DETAIL are its own
    // fixed words (only a quoted "last read" part comes from the input), and
    // they become the tool's reasons here so that its wording never leaks.
    void describe(size_t position, const nlohmann::detail::exception &ex) {
        const std::string_view what = ex.what();
        const size_t ctx = what.find("while parsing ");
        const size_t dash = what.find(" - ", ctx);
        const std::string_view context =
            ctx == std::string_view::npos || dash == std::string_view::npos
                ? std::string_view()
                : what.substr(ctx + 14, dash - ctx - 14);
        const std::string_view detail =
            dash == std::string_view::npos ? std::string_view() : what.substr(dash + 3);
        const bool endExpected = what.ends_with("; expected end of input");
        const bool valueExpected = context == "value" && !endExpected;
        const bool stringExpected = valueExpected || context == "object key";
        const bool tooLarge = ex.id == 406; // a number beyond a double, read as a value
        const size_t at = next(stringExpected || tooLarge);
        const bool atEnd = position > s_.size();

        if (tooLarge)
            fail(at, "number out of range");
        else if (valueExpected && stack_.size() > kMaxDepth)
            fail(at, "nested too deeply");
        else if (stringExpected && detail.starts_with("invalid string: '\\u'"))
            escapeError(position);
        else if (stringExpected && detail.starts_with("invalid string: "))
            fail(std::min(position, s_.size()), stringReason(detail.substr(16), atEnd));
        else if (valueExpected && detail.starts_with("invalid number"))
            fail(at, "bad number");
        else if (valueExpected && at >= s_.size())
            fail(at, "unexpected end");
        else if (valueExpected)
            fail(at, s_[at] == 't' || s_[at] == 'f' || s_[at] == 'n' ? "unknown literal"
                                                                     : "expected a value");
        else if (context == "object key")
            fail(at, "expected a member name");
        else if (context == "object separator")
            fail(at, "expected :");
        else if (context == "array")
            fail(at, "expected , or ]");
        else if (context == "object")
            fail(at, "expected , or }");
        else
            fail(at, "unexpected text");
    }

    // A \u escape without four hex digits: "short escape" after the u when
    // the text ends within four bytes, else "bad escape" after the bad digit.
    void escapeError(size_t position) {
        const size_t bad = position > s_.size() ? s_.size() : position - 1; // after \ and u
        const size_t u = s_.rfind("\\u", bad - 2) + 2;
        if (s_.size() - u < 4)
            fail(u, "short escape");
        else
            fail(position, "bad escape");
    }

    static const char *stringReason(std::string_view detail, bool atEnd) {
        if (detail.starts_with("control character"))
            return "control character in string";
        if (detail.starts_with("ill-formed UTF-8"))
            return "invalid UTF-8";
        if (detail.starts_with("surrogate"))
            return "bad surrogate pair";
        if (detail.starts_with("forbidden character after backslash") && !atEnd)
            return "bad escape";
        return "unterminated string";
    }

    std::string_view s_;
    JsonValue &root_;
    size_t end_ = 0;        // where the token of the last event ended
    bool afterOpen_ = true; // nothing taken yet, or an opening bracket: no separator follows
    std::vector<JsonValue *> stack_;
    std::string key_;
};

} // namespace

bool parseJson(std::string_view text, JsonValue &out, std::string &error) {
    out = JsonValue{};
    Builder builder(text, out);
    if (nlohmann::json::sax_parse(text, &builder, nlohmann::json::input_format_t::json, true,
                                  false) &&
        builder.finish())
        return true;
    error = builder.error.empty() ? "JSON error at byte 0: unexpected text" : builder.error;
    out = JsonValue{};
    return false;
}

} // namespace recog
