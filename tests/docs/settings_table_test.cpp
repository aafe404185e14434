// The table of the known settings against the code and the guide: every setting the program reads
// or writes under a literal name stands in the table with the default its reader passes, every row
// names a setting the program uses, and the README's table is the one printed from it. A setting
// added, renamed or given a new default without the table, or the table changed without the guide,
// fails here.
#include "settings/known.h"
#include "support/codepage.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

const QString kTop = TOLLAN_SOURCE_DIR;
// The folders of the terminal program; the peers, tests and the scheduler control keep no settings.
const QStringList kFolders = {"support", "receipts", "workstation", "protocol", "dialogues", "store",
                              "transactions", "links", "settings", "shell"};

// A C++ string literal's text as the guide writes it: escapes undone, Windows-1252 bytes as UTF-8.
QString Unescape(const QString& literal)
{
    std::string bytes;
    const QByteArray utf8 = literal.toUtf8();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\\' && i + 1 < utf8.size()) {
            if (utf8[i + 1] == 'x' && i + 3 < utf8.size()) {
                const char hex = static_cast<char>(utf8.mid(i + 2, 2).toInt(nullptr, 16));
                bytes += tollan::Text_Cp1252ToUtf8(std::string(1, hex));
                i += 3;
            } else {
                bytes += utf8[++i];
            }
        } else {
            bytes += utf8[i];
        }
    }
    return QString::fromStdString(bytes);
}

struct Use {
    QString def;       // the reader's default; a null text when the call passes none as a literal
    QString where;
};

// Every setting named by a literal in the program, with the literal defaults of its readers.
std::multimap<QString, Use> CodeSettings()
{
    static const QString lit = R"re("((?:[^"\\]|\\.)*)")re";
    const QRegularExpression withDefault("(?:Cfg_Get|Cfg_Lookup|Cfg_Change|seconds)\\(\\s*" + lit + "\\s*,\\s*" + lit + "\\s*[,)]");
    const QRegularExpression named("Cfg_(?:Get|Lookup|Put|Change)\\(\\s*" + lit + "\\s*,");
    const QRegularExpression constant("KKSetting\\s+\\w+\\{\\s*" + lit + "\\s*,\\s*" + lit + "\\s*\\}");
    const QRegularExpression field("\\{\"\\w+\",\\s*F::\\w+,\\s*\\d+,\\s*" + lit + ",\\s*" + lit + ",\\s*" + lit);
    std::multimap<QString, Use> uses;
    for (const QString& folder : kFolders) {
        QDirIterator it(kTop + "/" + folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
            const QString text = QString::fromUtf8(f.readAll());
            const QString where = path.mid(kTop.size() + 1);
            auto add = [&](const QString& key, const QString& def) {
                static const QRegularExpression numbered("^SendTransTime\\d+$");
                const QString k = numbered.match(key).hasMatch() ? QStringLiteral("SendTransTime<n>") : Unescape(key);
                uses.insert({k, {def.isNull() ? QString() : Unescape(def), where}});
            };
            for (const auto& re : {withDefault, constant})
                for (auto m = re.globalMatch(text); m.hasNext();) {
                    const auto one = m.next();
                    add(one.captured(1), one.captured(2));
                }
            for (auto m = named.globalMatch(text); m.hasNext();)
                add(m.next().captured(1), QString());
            for (auto m = field.globalMatch(text); m.hasNext();) {
                const auto one = m.next();  // caption, key, default of a settings-dialog field
                add(one.captured(2), one.captured(3));
            }
        }
    }
    return uses;
}

// The default cells of the known settings' table, by each setting's name.
std::map<QString, QString> TableSettings()
{
    std::map<QString, QString> rows;
    const std::string markdown = tollan::Settings_Markdown();
    const QRegularExpression name("`([^`]+)`");
    for (const QString& line : QString::fromStdString(markdown).split('\n')) {
        const QStringList cells = line.split(" | ");
        if (!line.startsWith("| `") || cells.size() < 4)
            continue;
        const auto first = name.match(cells[0]);
        rows[first.captured(1)] = cells[2];
    }
    return rows;
}

// The README's text between its settings markers.
QString GuideTable()
{
    QFile f(kTop + "/README.md");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    const QString open = "<!-- settings -->\n", close = "<!-- /settings -->";
    const qsizetype from = text.indexOf(open), to = text.indexOf(close);
    EXPECT_GE(from, 0);
    EXPECT_GT(to, from);
    return text.mid(from + open.size(), to - from - open.size());
}

TEST(Guide, TheReadmesSettingsTableIsTheOnePrintedFromTheKnownSettings)
{
    EXPECT_EQ(GuideTable().toStdString(), tollan::Settings_Markdown())
        << "print it anew with: build/shell/tollan config describe --markdown";
}

// Both ways: every setting of the program stands in the table with its reader's default, and every
// row of the table names a setting the program uses.
TEST(Guide, TheTableAndTheProgramNameTheSameSettingsWithTheSameDefaults)
{
    const auto uses = CodeSettings();
    const auto rows = TableSettings();
    ASSERT_GT(uses.size(), 40u);  // the scan found the program's settings at all
    for (const auto& [key, use] : uses) {
        const auto row = rows.find(key);
        if (row == rows.end()) {
            ADD_FAILURE() << key.toStdString() << " (" << use.where.toStdString() << ") is missing from the known settings (settings/known_table.cpp)";
            continue;
        }
        if (use.def.isNull())
            continue;
        const bool shown = use.def.isEmpty() ? row->second.startsWith("(empty)")
                                             : row->second.contains("`" + use.def + "`");
        EXPECT_TRUE(shown) << key.toStdString() << ": " << use.where.toStdString() << " reads it with default \""
                           << use.def.toStdString() << "\", the known settings say " << row->second.toStdString();
    }
    // Names the program composes from parts: a window's name and ".Left", "POS" and a register number.
    const std::set<QString> composed = {"fMain.Left", "fMain.Top", "SenderID\\<prefix>", "CardType\\<prefix>",
                                        "Tollan_Auth_Address", "Tollan_Trans_Address"};
    for (const auto& [key, row] : rows)
        EXPECT_TRUE(uses.count(key) || composed.count(key)) << key.toStdString() << " is a known setting, not in the program";
}

} // namespace
