#include "json_reader.h"

#include <cstdint>

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

constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(std::string_view s)
        : s_(s) {}

    bool document(JsonValue &out, std::string &error) {
        skip();
        if (!value(out, 0) || (skip(), pos_ != s_.size())) {
            if (error_.empty())
                error_ = "unexpected text";
            error = "JSON error at byte " + std::to_string(pos_) + ": " + error_;
            return false;
        }
        return true;
    }

private:
    void skip() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool failWith(const char *why) {
        error_ = why;
        return false;
    }
    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word)
            return failWith("unknown literal");
        pos_ += word.size();
        return true;
    }

    bool value(JsonValue &v, int depth) {
        if (depth > kMaxDepth)
            return failWith("nested too deeply");
        if (pos_ >= s_.size())
            return failWith("unexpected end");
        const char c = s_[pos_];
        if (c == '{')
            return object(v, depth);
        if (c == '[')
            return array(v, depth);
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            return string(v.text);
        }
        if (c == 't' || c == 'f') {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            v.kind = JsonValue::Kind::Null;
            return literal("null");
        }
        return number(v);
    }

    bool number(JsonValue &v) {
        const size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-')
            ++pos_;
        size_t digits = 0;
        while (pos_ < s_.size() &&
               ((s_[pos_] >= '0' && s_[pos_] <= '9') || s_[pos_] == '.' || s_[pos_] == 'e' ||
                s_[pos_] == 'E' || s_[pos_] == '+' || (s_[pos_] == '-' && pos_ > start)))
            ++pos_, ++digits;
        if (digits == 0)
            return failWith("expected a value");
        v.kind = JsonValue::Kind::Number;
        v.text = std::string(s_.substr(start, pos_ - start));
        return true;
    }

    static void appendUtf8(std::string &out, uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | cp >> 6);
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | cp >> 12);
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | cp >> 18);
            out += char(0x80 | (cp >> 12 & 0x3F));
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    bool hex4(uint32_t &cp) {
        if (pos_ + 4 > s_.size())
            return failWith("short escape");
        cp = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            cp <<= 4;
            if (c >= '0' && c <= '9')
                cp |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                cp |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                cp |= uint32_t(c - 'A' + 10);
            else
                return failWith("bad escape");
        }
        return true;
    }

    bool string(std::string &out) {
        ++pos_; // opening quote
        out.clear();
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return failWith("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                break;
            const char e = s_[pos_++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
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
                uint32_t cp = 0;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(pos_, 2) == "\\u") {
                    pos_ += 2;
                    uint32_t low = 0;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF)
                        return failWith("bad surrogate pair");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                return failWith("bad escape");
            }
        }
        return failWith("unterminated string");
    }

    bool array(JsonValue &v, int depth) {
        v.kind = JsonValue::Kind::Array;
        ++pos_;
        skip();
        if (pos_ < s_.size() && s_[pos_] == ']')
            return ++pos_, true;
        while (true) {
            JsonValue item;
            skip();
            if (!value(item, depth + 1))
                return false;
            v.items.push_back(std::move(item));
            skip();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == ']')
                return ++pos_, true;
            return failWith("expected , or ]");
        }
    }

    bool object(JsonValue &v, int depth) {
        v.kind = JsonValue::Kind::Object;
        ++pos_;
        skip();
        if (pos_ < s_.size() && s_[pos_] == '}')
            return ++pos_, true;
        while (true) {
            skip();
            if (pos_ >= s_.size() || s_[pos_] != '"')
                return failWith("expected a member name");
            std::string name;
            if (!string(name))
                return false;
            skip();
            if (pos_ >= s_.size() || s_[pos_] != ':')
                return failWith("expected :");
            ++pos_;
            skip();
            JsonValue member;
            if (!value(member, depth + 1))
                return false;
            v.members[name] = std::move(member);
            skip();
            if (pos_ < s_.size() && s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < s_.size() && s_[pos_] == '}')
                return ++pos_, true;
            return failWith("expected , or }");
        }
    }

    std::string_view s_;
    size_t pos_ = 0;
    std::string error_;
};

} // namespace

bool parseJson(std::string_view text, JsonValue &out, std::string &error) {
    out = JsonValue{};
    return Parser(text).document(out, error);
}

} // namespace recog
