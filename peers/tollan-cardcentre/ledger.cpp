#include "peers/tollan-cardcentre/ledger.h"

#include "support/codepage.h"

#include <QDateTime>

#include <cstdio>

namespace tollan::peer {

std::string Json_Quote(std::string_view cp1252)
{
    std::string out = "\"";
    for (char ch : Text_Cp1252ToUtf8(cp1252)) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::Raw(std::string_view name, std::string_view json)
{
    if (!fields_.empty())
        fields_ += ',';
    fields_ += Json_Quote(name) + ':';
    fields_ += json;
    return *this;
}

JsonObject& JsonObject::Text(std::string_view name, std::string_view cp1252) { return Raw(name, Json_Quote(cp1252)); }

JsonObject& JsonObject::TextOrNull(std::string_view name, const std::optional<std::string>& cp1252)
{
    return cp1252 ? Text(name, *cp1252) : Raw(name, "null");
}

JsonObject& JsonObject::Texts(std::string_view name, const std::vector<std::string>& cp1252)
{
    std::string list = "[";
    for (const std::string& t : cp1252)
        list += (list.size() > 1 ? "," : "") + Json_Quote(t);
    return Raw(name, list + "]");
}

JsonObject& JsonObject::Number(std::string_view name, std::int64_t v) { return Raw(name, std::to_string(v)); }

JsonObject& JsonObject::NumberOrNull(std::string_view name, std::optional<std::int64_t> v)
{
    return v ? Number(name, *v) : Raw(name, "null");
}

JsonObject& JsonObject::Bool(std::string_view name, std::optional<bool> v)
{
    return Raw(name, !v ? "null" : *v ? "true" : "false");
}

JsonObject& JsonObject::Pairs(std::string_view name, const std::vector<std::pair<int, int>>& pairs)
{
    std::string list = "[";
    for (const auto& [a, b] : pairs)
        list += (list.size() > 1 ? ",[" : "[") + std::to_string(a) + "," + std::to_string(b) + "]";
    return Raw(name, list + "]");
}

std::string JsonObject::Line() const { return "{" + fields_ + "}"; }

bool Ledger::Open(const QString& path)
{
    file_.setFileName(path);
    // Unbuffered: each line goes to the file in one write as soon as it is made.
    return file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

void Ledger::Write(std::string_view event, const JsonObject& fields)
{
    if (!file_.isOpen())
        return;
    const std::string time = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz").toStdString();
    std::string line = JsonObject().Text("event", event).Text("time", time).Line();
    const std::string rest = fields.Line();
    if (rest.size() > 2)
        line.insert(line.size() - 1, "," + rest.substr(1, rest.size() - 2));
    line += '\n';
    file_.write(line.data(), static_cast<qint64>(line.size()));
}

} // namespace tollan::peer
