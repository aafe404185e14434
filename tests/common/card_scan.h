#pragma once
// What must never be found at rest: every byte of every file under a folder (the database, its
// write-ahead log, the logs, the prints), searched for full card numbers and track-2 data in every
// form a program could have written them: as digits (also inside longer runs of digits), packed
// two digits to a byte as the card centre's messages carry them, percent-encoded as debug.log
// would show those bytes, and as UTF-16 text.
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace tollan::test {

// The forms one secret takes.
inline std::vector<std::pair<std::string, std::string>> SecretForms(const std::string& digits)
{
    std::vector<std::pair<std::string, std::string>> forms{{"digits", digits}};
    std::string packed, encoded;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        const auto nibble = [](char c) { return c == '=' ? 0xD : c - '0'; };
        const char byte = static_cast<char>(nibble(digits[i]) << 4 | nibble(digits[i + 1]));
        packed += byte;
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(byte));
        encoded += hex;
    }
    forms.emplace_back("packed", packed);
    forms.emplace_back("packed, percent-encoded", encoded);
    std::string le, be;
    for (char c : digits) {
        le += c;
        le += '\0';
        be += '\0';
        be += c;
    }
    forms.emplace_back("UTF-16LE", le);
    forms.emplace_back("UTF-16BE", be);
    return forms;
}

// "file: what (form)" for each secret found; empty when the folder is clean. `secrets` holds the
// full card numbers and the track-2 texts after their separator (as "=2812101...").
inline QStringList FindCardData(const QString& folder, const std::vector<std::string>& secrets)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = f.readAll();
        const std::string_view all(bytes.constData(), std::size_t(bytes.size()));
        for (const std::string& secret : secrets)
            for (const auto& [form, text] : SecretForms(secret))
                if (text.size() >= 6 && all.find(text) != std::string_view::npos)
                    found << QString("%1: %2 (%3)").arg(path, QString::fromStdString(secret), QString::fromStdString(form));
    }
    return found;
}

} // namespace tollan::test
