#include "Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

void appendUtf8(std::string &out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Parser {
public:
    explicit Parser(std::string_view text)
        : text_(text) {}

    std::optional<Value> run(ParseError *error) {
        skipSpace();
        auto value = parseValue(0);
        if (value) {
            skipSpace();
            if (pos_ != text_.size()) {
                fail("unexpected text after the JSON value");
                value.reset();
            }
        }
        if (!value && error)
            *error = error_;
        return value;
    }

private:
    std::optional<Value> parseValue(int depth) {
        if (depth > kMaxDepth)
            return fail("nesting too deep");
        if (pos_ >= text_.size())
            return fail("unexpected end of input");
        switch (text_[pos_]) {
        case '{':
            return parseObject(depth);
        case '[':
            return parseArray(depth);
        case '"': {
            auto s = parseString();
            if (!s)
                return std::nullopt;
            return Value(std::move(*s));
        }
        case 't':
            return literal("true", Value(true));
        case 'f':
            return literal("false", Value(false));
        case 'n':
            return literal("null", Value());
        default:
            return parseNumber();
        }
    }

    std::optional<Value> parseObject(int depth) {
        ++pos_;
        Object object;
        skipSpace();
        if (consume('}'))
            return Value(std::move(object));
        for (;;) {
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != '"')
                return fail("expected a member name");
            auto key = parseString();
            if (!key)
                return std::nullopt;
            skipSpace();
            if (!consume(':'))
                return fail("expected ':'");
            skipSpace();
            auto value = parseValue(depth + 1);
            if (!value)
                return std::nullopt;
            object.emplace_back(std::move(*key), std::move(*value));
            skipSpace();
            if (consume('}'))
                return Value(std::move(object));
            if (!consume(','))
                return fail("expected ',' or '}'");
        }
    }

    std::optional<Value> parseArray(int depth) {
        ++pos_;
        Array array;
        skipSpace();
        if (consume(']'))
            return Value(std::move(array));
        for (;;) {
            skipSpace();
            auto value = parseValue(depth + 1);
            if (!value)
                return std::nullopt;
            array.push_back(std::move(*value));
            skipSpace();
            if (consume(']'))
                return Value(std::move(array));
            if (!consume(','))
                return fail("expected ',' or ']'");
        }
    }

    std::optional<std::uint32_t> parseHex4() {
        if (pos_ + 4 > text_.size()) {
            fail("truncated \\u escape");
            return std::nullopt;
        }
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<std::uint32_t>(c - 'A' + 10);
            else {
                fail("bad \\u escape");
                return std::nullopt;
            }
        }
        return v;
    }

    std::optional<std::string> parseString() {
        ++pos_; // opening quote
        std::string out;
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '"') {
                ++pos_;
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                fail("control character in string");
                return std::nullopt;
            }
            if (c != '\\') {
                const std::size_t len = utf8SequenceLength(text_, pos_);
                if (len == 0) {
                    fail("invalid UTF-8 in string");
                    return std::nullopt;
                }
                out.append(text_.substr(pos_, len));
                pos_ += len;
                continue;
            }
            if (++pos_ >= text_.size())
                break;
            const char e = text_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                auto cp = parseHex4();
                if (!cp)
                    return std::nullopt;
                if (*cp >= 0xD800 && *cp <= 0xDBFF) {
                    if (pos_ + 2 > text_.size() || text_[pos_] != '\\' || text_[pos_ + 1] != 'u') {
                        fail("lone surrogate");
                        return std::nullopt;
                    }
                    pos_ += 2;
                    auto low = parseHex4();
                    if (!low)
                        return std::nullopt;
                    if (*low < 0xDC00 || *low > 0xDFFF) {
                        fail("lone surrogate");
                        return std::nullopt;
                    }
                    *cp = 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00);
                } else if (*cp >= 0xDC00 && *cp <= 0xDFFF) {
                    fail("lone surrogate");
                    return std::nullopt;
                }
                appendUtf8(out, *cp);
                break;
            }
            default:
                fail("bad escape");
                return std::nullopt;
            }
        }
        fail("unterminated string");
        return std::nullopt;
    }

    std::optional<Value> parseNumber() {
        const std::size_t start = pos_;
        bool integral = true;
        consume('-');
        if (pos_ >= text_.size() || !isDigit(text_[pos_]))
            return fail("unexpected character");
        if (text_[pos_] == '0')
            ++pos_;
        else
            skipDigits();
        if (consume('.')) {
            integral = false;
            if (pos_ >= text_.size() || !isDigit(text_[pos_]))
                return fail("digit expected after '.'");
            skipDigits();
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            integral = false;
            ++pos_;
            if (!consume('+'))
                consume('-');
            if (pos_ >= text_.size() || !isDigit(text_[pos_]))
                return fail("digit expected in exponent");
            skipDigits();
        }
        const char *first = text_.data() + start;
        const char *last = text_.data() + pos_;
        if (integral) {
            std::int64_t i = 0;
            auto [ptr, ec] = std::from_chars(first, last, i);
            if (ec == std::errc() && ptr == last)
                return Value(i);
            // Too large for 64 bits: keep it as a floating-point number.
        }
        double d = 0;
        auto [ptr, ec] = std::from_chars(first, last, d);
        if (ec != std::errc() || ptr != last || !std::isfinite(d))
            return fail("number out of range");
        return Value(d);
    }

    std::optional<Value> literal(std::string_view word, Value value) {
        if (text_.substr(pos_, word.size()) != word)
            return fail("unexpected character");
        pos_ += word.size();
        return value;
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    void skipDigits() {
        while (pos_ < text_.size() && isDigit(text_[pos_]))
            ++pos_;
    }
    void skipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\n' || text_[pos_] == '\r'))
            ++pos_;
    }
    bool consume(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::nullopt_t fail(const char *message) {
        if (error_.message.empty()) {
            error_.offset = pos_;
            error_.message = message;
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    ParseError error_;
};

void serializeString(std::string &out, std::string_view s) {
    out += '"';
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else if (c >= 0x80) {
                const std::size_t len = utf8SequenceLength(s, i);
                if (len == 0) {
                    out += "\\ufffd"; // never emit malformed UTF-8
                    ++i;
                    continue;
                }
                out.append(s.substr(i, len));
                i += len;
                continue;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
}

void serializeTo(std::string &out, const Value &v) {
    switch (v.type()) {
    case Value::Type::Null:
        out += "null";
        break;
    case Value::Type::Bool:
        out += v.asBool() ? "true" : "false";
        break;
    case Value::Type::Integer:
        out += std::to_string(v.asInteger());
        break;
    case Value::Type::Double: {
        char buf[32];
        auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v.asDouble());
        const std::string_view text(buf,
                                    ec == std::errc() ? static_cast<std::size_t>(ptr - buf) : 0);
        out += text;
        // Keep it a floating-point number when read back: "2500" would be an integer.
        if (text.find_first_of(".eE") == std::string_view::npos)
            out += ".0";
        break;
    }
    case Value::Type::String:
        serializeString(out, v.asString());
        break;
    case Value::Type::Array: {
        out += '[';
        bool first = true;
        for (const auto &item : v.asArray()) {
            if (!first)
                out += ',';
            first = false;
            serializeTo(out, item);
        }
        out += ']';
        break;
    }
    case Value::Type::Object: {
        out += '{';
        bool first = true;
        for (const auto &[key, item] : v.asObject()) {
            if (!first)
                out += ',';
            first = false;
            serializeString(out, key);
            out += ':';
            serializeTo(out, item);
        }
        out += '}';
        break;
    }
    }
}

} // namespace

std::optional<Value> parse(std::string_view text, ParseError *error) {
    return Parser(text).run(error);
}

std::string serialize(const Value &value) {
    std::string out;
    serializeTo(out, value);
    return out;
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
