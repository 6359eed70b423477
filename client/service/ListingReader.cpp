#include "ListingReader.h"

#include <QJsonArray>

#include <nlohmann/json.hpp>

#include <limits>
#include <vector>

namespace ListingReader {
namespace {

// QJsonDocument's own limit: deeper documents are refused, and freeing a
// value nested much deeper would run out of stack.
constexpr size_t MaximumDepth = 1024;

using Json = nlohmann::json;

class Reader final : public nlohmann::json_sax<Json> {
public:
    Reader(const QString &arrayKey, const std::function<void(const QJsonValue &)> &element)
        : m_arrayKey(arrayKey)
        , m_element(element) {}

    QJsonObject envelope() const { return m_root.toObject(); }

    bool null() override { return put(QJsonValue(QJsonValue::Null)); }
    bool boolean(bool value) override { return put(QJsonValue(value)); }
    bool number_integer(number_integer_t value) override { return put(QJsonValue(qint64(value))); }
    bool number_unsigned(number_unsigned_t value) override {
        if (value <= number_unsigned_t(std::numeric_limits<qint64>::max()))
            return put(QJsonValue(qint64(value)));
        return put(QJsonValue(double(value)));
    }
    bool number_float(number_float_t value, const string_t &) override {
        return put(QJsonValue(double(value)));
    }
    bool string(string_t &value) override {
        return put(QJsonValue(QString::fromUtf8(value.data(), qsizetype(value.size()))));
    }
    bool binary(binary_t &) override { return false; }

    bool start_object(std::size_t) override { return open(true); }
    bool key(string_t &value) override {
        m_stack.back().key = QString::fromUtf8(value.data(), qsizetype(value.size()));
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t, const std::string &,
                     const nlohmann::detail::exception &) override {
        return false;
    }

private:
    struct Container {
        bool isObject;
        // The array whose elements are handed over rather than kept.
        bool handsOver;
        QJsonObject object;
        QJsonArray array;
        QString key;
    };

    bool open(bool isObject) {
        if (m_stack.size() >= MaximumDepth)
            return false;
        const bool handsOver = !isObject && m_stack.size() == 1 && m_stack.front().isObject &&
                               m_stack.front().key == m_arrayKey;
        m_stack.push_back({isObject, handsOver, {}, {}, {}});
        return true;
    }
    bool close() {
        Container done = std::move(m_stack.back());
        m_stack.pop_back();
        if (done.isObject)
            return put(QJsonValue(std::move(done.object)));
        return put(QJsonValue(std::move(done.array)));
    }
    bool put(const QJsonValue &value) {
        if (m_stack.empty()) {
            m_root = value;
            return true;
        }
        Container &into = m_stack.back();
        if (into.isObject)
            into.object.insert(into.key, value);
        else if (into.handsOver)
            m_element(value);
        else
            into.array.append(value);
        return true;
    }

    const QString &m_arrayKey;
    const std::function<void(const QJsonValue &)> &m_element;
    std::vector<Container> m_stack;
    QJsonValue m_root;
};

} // namespace

bool read(const QByteArray &bytes, const QString &arrayKey, QJsonObject *envelope,
          const std::function<void(const QJsonValue &element)> &element) {
    const char *begin = bytes.constData();
    const char *end = begin + bytes.size();
    Reader reader(arrayKey, element);
    const bool ok = Json::sax_parse(begin, end, &reader, nlohmann::detail::input_format_t::json,
                                    /*strict=*/true);
    if (envelope)
        *envelope = ok ? reader.envelope() : QJsonObject();
    return ok;
}

} // namespace ListingReader
