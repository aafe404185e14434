#pragma once
// The card centre's ledger: what it was asked and what it did, one JSON object a line, appended and
// flushed line by line, so that a soak's reconciliation can read it while the card centre runs and
// after it was killed (a kill can cut only the last line short).
#include <QFile>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollan::peer {

// One JSON object, its fields in the order they were added. Texts are Windows-1252 bytes, written
// as UTF-8 with the control characters escaped.
class JsonObject {
public:
    JsonObject& Text(std::string_view name, std::string_view cp1252);
    JsonObject& TextOrNull(std::string_view name, const std::optional<std::string>& cp1252);
    JsonObject& Texts(std::string_view name, const std::vector<std::string>& cp1252);
    JsonObject& Number(std::string_view name, std::int64_t v);
    JsonObject& NumberOrNull(std::string_view name, std::optional<std::int64_t> v);
    JsonObject& Bool(std::string_view name, std::optional<bool> v);
    JsonObject& Pairs(std::string_view name, const std::vector<std::pair<int, int>>& pairs);
    // {"...", ...} on one line.
    std::string Line() const;

private:
    JsonObject& Raw(std::string_view name, std::string_view json);
    std::string fields_;
};

// A JSON string of Windows-1252 bytes.
std::string Json_Quote(std::string_view cp1252);

class Ledger {
public:
    // False when the file cannot be opened for appending.
    bool Open(const QString& path);
    // Appends the object with its event name and the local time first; nothing when not open.
    void Write(std::string_view event, const JsonObject& fields);

private:
    QFile file_;
};

} // namespace tollan::peer
