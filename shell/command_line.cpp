#include "shell/command_line.h"

#include "store/admin_log.h"
#include "store/db.h"
#include "settings/known.h"
#include "support/carddata.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/registry.h"
#include "support/home.h"
#include "support/text.h"


#include <algorithm>
#include <optional>
#include <cstdio>

namespace tollan {

namespace {

std::string ToBytes(const QString& s) { return Text_FromQString(s); }

void PrintLine(std::FILE* to, const std::string& cp1252)
{
    std::fprintf(to, "%s\n", Text_Cp1252ToUtf8(cp1252).c_str());
}

} // namespace

QString Cli_Usage()
{
    return QStringLiteral(
        "Usage: tollan [--home DIR] [--card-key FILE] [--headless] [--service]\n"
        "       tollan [--home DIR] config list [--all] | get KEY | set [--force] KEY VALUE | unset KEY\n"
        "       tollan [--home DIR] config check | describe [--markdown | --roff]\n"
        "       tollan [--home DIR] check\n"

        "       tollan [--home DIR] [--card-key FILE] keys rotate\n"
        "       tollan [--home DIR] report [--date YYYY-MM-DD] [--csv]\n"
        "       tollan --help | --version\n"
        "\n"
        "Tollan terminal: the card-payment terminal of the shop's back office. Cash registers connect\n"
        "to it over TCP; it asks the card centre for each purchase or cancellation and keeps every\n"
        "approved transaction.\n"
        "\n"
        "Options (before the word config):\n"
        "  --home DIR, --home=DIR\n"
        "               the folder that holds registry.ini, tollan.mdb, tollan.err, trans.log,\n"
        "               debug.log and prints/ (default: $TOLLAN_HOME, else $XDG_DATA_HOME/tollan,\n"
        "               else ~/.local/share/tollan); created on first start\n"
        "  --card-key FILE\n"
        "               the card-number keys (never in the home folder; default: the service's\n"
        "               credential card-key, else $XDG_CONFIG_HOME/tollan/card.key, made with a\n"
        "               random key at the first start)\n"
        "  --headless   run without a window, logging to stderr; so it runs as well when neither\n"
        "               DISPLAY nor WAYLAND_DISPLAY is set. SIGTERM or SIGINT end it as closing\n"
        "               the window does\n"
        "  --service    run as the package's service (tollan.service starts it so): until AllowFrom\n"
        "               or ListenAddress is set, registers are served on the loopback only\n"
        "               (127.0.0.1 and ::1), and the start says so. Started without it, the\n"
        "               terminal serves registers on every interface\n"
        "  -h, --help   show this text\n"
        "  --version    show the version\n"
        "\n"
        "config list            every stored setting, one KEY=VALUE per line; --all adds every\n"
        "                       other known setting with its default, marked (default)\n"
        "config get KEY         print the setting's value, or its default when it is not set\n"
        "config set KEY VALUE   store a setting; a value of the wrong form or range, or a name the\n"
        "                       terminal does not know, is refused with the reason (exit 64) unless\n"
        "                       --force is given; the change goes to the event log (tollan.mdb,\n"
        "                       table Log) with the user, a password as ***\n"
        "config unset KEY       remove a setting: the terminal takes its default again\n"
        "config check           check every setting as the terminal does when it starts: each\n"
        "                       problem on a line of its own (exit 1 when there is one)\n"
        "config describe        every known setting: its form, default and when it is read\n"
        "check                  the settings check, then each card-centre address connected to (with\n"
        "                       the TLS handshake, certificates and pins where UseTLS is set), or the\n"
        "                       modem's port opened where UseX25 is set; each result on a line, exit\n"
        "                       0 only when everything answered\n"
        "KEY is written as the terminal names it: Port, X25\\Number, TimeOut\\Connect, SendTransTime1.\n"
        "keys rotate            a new card-number key: every kept number sealed again under it in one\n"
        "                       transaction, the keys no row needs any more dropped (the terminal\n"
        "                       must be stopped)\n"
        "report                 the day's totals per register and in all: purchases, cancellations\n"
        "                       and net, in aligned columns (today; --date YYYY-MM-DD another day).\n"
        "                       --csv: register,purchases,purchases_sum,cancellations,\n"
        "                       cancellations_sum,net, one row per register, then the row total\n"
        "\n"
        "One terminal runs per home folder; a second start on it says which process holds it.\n"
        "\n"
        "Exit status: 0 done; 1 config get found no such setting, a check found a problem, or the\n"
        "home folder cannot be created; 2 another terminal holds the home folder; 3 the settings\n"
        "cannot be read (the file is there but unreadable or no settings file: nothing is written\n"
        "over it) or written, or report cannot read tollan.mdb; 64 wrong arguments, or a setting\n"
        "refused by config set.\n");
}

CommandLine Cli_Parse(const QStringList& arguments)
{
    CommandLine line;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (!line.command.isEmpty()) {
            line.command << a;
        } else if (a == "--home" || a.startsWith("--home=")) {
            if (a.startsWith("--home=")) {
                line.home = a.mid(7);
            } else if (i + 1 < arguments.size()) {
                line.home = arguments[++i];
            } else {
                line.error = QStringLiteral("--home needs a folder");
            }
            if (line.home.isEmpty() && line.error.isEmpty()) line.error = QStringLiteral("--home needs a folder");
        } else if (a == "--card-key" || a.startsWith("--card-key=")) {
            if (a.startsWith("--card-key="))
                line.cardKey = a.mid(11);
            else if (i + 1 < arguments.size())
                line.cardKey = arguments[++i];
            if (line.cardKey.isEmpty()) line.error = QStringLiteral("--card-key needs a file");
        } else if (a == "--headless") {
            line.headless = true;
        } else if (a == "--service") {
            line.service = true;
        } else if (a == "--help" || a == "-h") {
            line.help = true;
        } else if (a == "--version") {
            line.version = true;
        } else if (a == "config" || a == "keys" || a == "check" || a == "report") {
            line.command << a;
        } else {
            line.error = QStringLiteral("unknown argument: %1").arg(a);
            break;
        }
    }
    return line;
}

int Cli_Keys(const QStringList& command, const QString& cardKey)
{
    if (command.value(1) != "rotate" || command.size() != 2) {
        std::fprintf(stderr, "%s", Cli_Usage().toLocal8Bit().constData());
        return 64;
    }
    auto fail = [](int status, const std::string& why) {
        std::fprintf(stderr, "tollan: keys rotate: %s\n", why.c_str());
        return status;
    };
    QString holder;
    if (!Home_Lock(&holder))
        return fail(2, "the home folder is in use by " + holder.toStdString() + ": stop the terminal first");
    if (!Db_Open())
        return fail(3, "cannot open tollan.mdb");
    const CardKeySource source = CardKey_Source(cardKey);
    if (!source.writable)
        return fail(3, source.what.toStdString() + " cannot be written here: decrypt it to a file, rotate with "
                                                   "--card-key FILE, and encrypt it again (see the README)");
    std::string why;
    if (!CardKey_Open(source, !Db_HoldsSealedCardData(), nullptr, why))
        return fail(3, why);
    // The new key goes into the file first, beside the old ones: stopped at any moment, every row
    // opens with a key the file still holds.
    std::vector<CardKey> keys = CardKey_Keys();
    const CardKey next = CardKey_New(keys);
    keys.push_back(next);
    if (!CardKey_Save(source.path, keys, why))
        return fail(3, "cannot save " + source.path.toStdString() + ": " + why);
    CardKey_Use(keys);
    const bool ok = Db_Reseal(next, [](std::int64_t done, std::int64_t total) {
        std::fprintf(stderr, "tollan: keys rotate: %lld of %lld sealed again\n", static_cast<long long>(done),
                     static_cast<long long>(total));
    }, why);
    if (!ok)
        return fail(3, why + "; nothing was changed, the new key is kept beside the old ones");
    // Only the keys some row still needs, and the new one, stay.
    const std::vector<int> inUse = Db_KeysInUse();
    std::vector<CardKey> kept;
    for (const CardKey& k : keys)
        if (k.id == next.id || std::find(inUse.begin(), inUse.end(), k.id) != inUse.end())
            kept.push_back(k);
    if (!CardKey_Save(source.path, kept, why))
        return fail(3, "cannot save " + source.path.toStdString() + ": " + why);
    Log_Admin("card key " + std::to_string(next.id) + " in force (keys rotate, " + std::to_string(keys.size() - kept.size()) +
              " dropped)");
    std::printf("key %d in force in %s; %zu key(s) dropped\n", next.id, qPrintable(source.path),
                keys.size() - kept.size());
    return 0;
}

namespace {

// The setting's name as registry.ini keeps it below the root ("X25\\Number"), from Reg_List's entry.
std::optional<std::string> KeyBelowRoot(const RegEntry& e)
{
    const std::string root(kCfgRoot);
    if (Text_Equal(e.subkey, root)) return e.name;
    if (e.subkey.size() > root.size() && Text_Equal(e.subkey.substr(0, root.size()), root) && e.subkey[root.size()] == '\\')
        return e.subkey.substr(root.size() + 1) + "\\" + e.name;
    return std::nullopt;
}

int Refused(const std::string& utf8)
{
    std::fprintf(stderr, "tollan: %s\n", utf8.c_str());
    return 64;
}

// `config describe`: the table of the known settings, as text, Markdown (the README) or roff (the
// manual page).
int Describe(const QString& how)
{
    if (how == "--markdown") {
        std::printf("%s", Settings_Markdown().c_str());
    } else if (how == "--roff") {
        std::printf("%s", Settings_Roff().c_str());
    } else if (how.isEmpty()) {
        for (const KnownSetting& row : Settings_Known())
            std::printf("%s\n    %s; default %s; read %s\n    %s\n", row.name, Settings_FormText(row).c_str(),
                        row.def[0] ? row.def : "(empty)", row.read, Str_Replace(row.meaning, "`", "").c_str());
    } else {
        return Refused("config describe takes --markdown or --roff");
    }
    return 0;
}

} // namespace

int Cli_ConfigCheck()
{
    const std::vector<SettingProblem> problems = Settings_Check();
    for (const SettingProblem& p : problems)
        std::printf("%s\n", Settings_Line(p, false).c_str());
    if (problems.empty()) std::printf("settings: sound\n");
    return problems.empty() ? 0 : 1;
}

int Cli_Config(const QStringList& command)
{
    QStringList words = command;
    const bool force = words.removeAll(QStringLiteral("--force")) > 0;
    const bool all = words.removeAll(QStringLiteral("--all")) > 0;
    const QString verb = words.value(1);
    if (verb == "describe" && words.size() <= 3 && !force && !all) return Describe(words.value(2));
    // The store as the program sees it, but a read never writes a default back.
    Cfg_Init(kCfgRoot, 3, std::string("HKEY=") + std::string(kCfgHklm) + ";SaveDefaults=0;");
    // A file that cannot be read is neither shown as empty nor written over.
    std::string why;
    const bool known = verb == "get" || verb == "set" || verb == "list" || verb == "unset" || verb == "check";
    if (known && Reg_Check(&why) != kRegOk) {
        PrintLine(stderr, "tollan: cannot read the settings, " + why + "; nothing was changed");
        return 3;
    }
    const std::string key = ToBytes(words.value(2));
    const KnownSetting* row = Settings_Find(Text_Cp1252ToUtf8(key));
    if (verb == "get" && words.size() == 3 && !force && !all) {
        // An unset setting is what its readers take: its default.
        const std::string value = Cfg_Get(key, row ? Text_Utf8ToCp1252(row->def) : "");
        if (Cfg_LastError() == kRegNotFound && !row) {
            std::fprintf(stderr, "tollan: no such setting: %s\n", words[2].toLocal8Bit().constData());
            return 1;
        }
        if (Cfg_LastError() != kRegOk && Cfg_LastError() != kRegNotFound) return 3;
        PrintLine(stdout, value);
        return 0;
    }
    if (verb == "set" && words.size() == 4 && !all) {
        const std::string value = Text_Cp1252ToUtf8(ToBytes(words[3]));
        if (!row && !force) {
            const std::string near = Settings_Near(Text_Cp1252ToUtf8(key));
            return Refused("config set: no such setting " + Text_Cp1252ToUtf8(key) + (near.empty() ? "" : " (did you mean " + near + "?)") +
                           "; nothing was changed (--force stores it all the same)");
        }
        if (row) {
            if (const SettingProblem p = Settings_Problem(*row, Text_Cp1252ToUtf8(key), value)) {
                if (!force) return Refused("config set: " + Settings_Line(p, false) + "; nothing was changed");
                std::fprintf(stderr, "tollan: config set: %s; stored all the same (--force)\n", Settings_Line(p, false).c_str());
            }
        }
        // The record of the change goes to the terminal's event log, which this process opens
        // itself: the running terminal keeps the database in write-ahead mode, which lets it.
        // What the log cannot take goes to tollan.err.
        Db_Open();
        const bool stored = Admin_PutSetting("config", key, ToBytes(words[3]));
        Db_Database().close();
        return stored && Cfg_LastError() == kRegOk ? 0 : 3;
    }
    if (verb == "unset" && words.size() == 3 && !force && !all) {
        Db_Open();
        const bool removed = Admin_UnsetSetting("config", key);
        Db_Database().close();
        return removed ? 0 : 3;
    }
    if (verb == "list" && words.size() == 2 && !force) {
        std::vector<std::string> stored;
        for (const RegEntry& e : Reg_List())
            if (const auto k = KeyBelowRoot(e)) {
                PrintLine(stdout, *k + "=" + e.value);
                stored.push_back(*k);
            }
        // With --all, every other known setting with the default its readers take.
        if (all)
            for (const KnownSetting& r : Settings_Known()) {
                const std::string name = Text_Utf8ToCp1252(r.name);
                if (name.find('<') != std::string::npos || (!r.def[0] && r.shownDef && std::string_view(r.shownDef).find("(empty)") != 0))
                    continue;
                if (std::none_of(stored.begin(), stored.end(), [&](const std::string& s) { return Text_Equal(s, name); }))
                    PrintLine(stdout, name + "=" + r.def + "  (default)");
            }
        return 0;
    }
    if (verb == "check" && words.size() == 2 && !force && !all) return Cli_ConfigCheck();
    std::fprintf(stderr, "%s", Cli_Usage().toLocal8Bit().constData());
    return 64;
}

} // namespace tollan
