#include "SubsonicResponse.h"

#include "Json.h"
#include "XmlText.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace cloud::subsonic {

namespace {

std::string scalarText(const Scalar &v) {
    if (const auto *s = std::get_if<std::string>(&v))
        return *s;
    if (const auto *i = std::get_if<std::int64_t>(&v))
        return std::to_string(*i);
    if (const auto *b = std::get_if<bool>(&v))
        return *b ? "true" : "false";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", std::get<double>(v));
    return buf;
}

void writeXml(std::string &out, const Element &e) {
    out += '<';
    out += e.name();
    for (const auto &[key, value] : e.attributes()) {
        out += ' ';
        out += key;
        out += "=\"";
        appendXmlEscaped(out, scalarText(value));
        out += '"';
    }
    if (e.plainValue()) {
        out += '>';
        appendXmlEscaped(out, scalarText(*e.plainValue()));
        out += "</";
        out += e.name();
        out += '>';
        return;
    }
    bool empty = !e.text();
    for (const auto &g : e.groups())
        empty = empty && g.items.empty();
    if (empty) {
        out += "/>";
        return;
    }
    out += '>';
    if (e.text())
        appendXmlEscaped(out, *e.text());
    for (const auto &g : e.groups()) {
        for (const auto &child : g.items)
            writeXml(out, child);
    }
    out += "</";
    out += e.name();
    out += '>';
}

nlohmann::ordered_json jsonOf(const Element &e) {
    if (e.plainValue())
        return std::visit([](const auto &v) { return nlohmann::ordered_json(v); }, *e.plainValue());
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    for (const auto &[key, value] : e.attributes())
        std::visit([&j, &name = key](const auto &v) { j[name] = v; }, value);
    if (e.text())
        j["value"] = *e.text();
    for (const auto &g : e.groups()) {
        if (g.isList) {
            auto array = nlohmann::ordered_json::array();
            for (const auto &child : g.items)
                array.push_back(jsonOf(child));
            j[g.name] = std::move(array);
        } else if (!g.items.empty()) {
            j[g.name] = jsonOf(g.items.front());
        }
    }
    return j;
}

} // namespace

Element &Element::setScalar(const std::string &key, Scalar value) {
    for (auto &[k, v] : attributes_) {
        if (k == key) {
            v = std::move(value);
            return *this;
        }
    }
    attributes_.emplace_back(key, std::move(value));
    return *this;
}

Element &Element::setText(std::string text) {
    text_ = std::move(text);
    return *this;
}

Element::Group &Element::group(const std::string &name, bool isList) {
    for (auto &g : groups_) {
        if (g.name == name)
            return g;
    }
    groups_.push_back(Group{name, isList, {}});
    return groups_.back();
}

Element &Element::child(const std::string &name) {
    Group &g = group(name, false);
    if (g.items.empty())
        g.items.emplace_back(name);
    return g.items.front();
}

Element &Element::item(const std::string &name) {
    return group(name, true).items.emplace_back(name);
}

void Element::list(const std::string &name) {
    group(name, true);
}

void Element::value(const std::string &name, Scalar v) {
    group(name, true).items.emplace_back(name).plain_ = std::move(v);
}

Element okResponse() {
    Element root("subsonic-response");
    root.set("status", "ok")
        .set("version", kApiVersion)
        .set("type", "sonarbox")
        .set("serverVersion", "0.1.0")
        .set("openSubsonic", true);
    return root;
}

Element errorResponse(int code, const std::string &message) {
    Element root = okResponse();
    root.set("status", "failed");
    root.child("error").set("code", code).set("message", message);
    return root;
}

std::string toXml(const Element &root) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    // The root carries the API's namespace; players look elements up under it.
    Element withNamespace = root;
    withNamespace.set("xmlns", "http://subsonic.org/restapi");
    writeXml(out, withNamespace);
    return out;
}

std::string toJson(const Element &root) {
    nlohmann::ordered_json doc;
    doc[root.name()] = jsonOf(root);
    return doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace cloud::subsonic
