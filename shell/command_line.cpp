#include "shell/command_line.h"

#include "store/admin_log.h"
#include "store/db.h"
#include "support/carddata.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/registry.h"
#include "support/home.h"
#include "support/text.h"


#include <algorithm>
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
        "       tollan [--home DIR] config list | get KEY | set KEY VALUE\n"
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
        "config list            every setting, one KEY=VALUE per line\n"
        "config get KEY         print the setting's value\n"
        "config set KEY VALUE   store a setting; the change goes to the event log (tollan.mdb,\n"
        "                       table Log) with the user, a password as ***\n"
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
        "Exit status: 0 done; 1 config get found no such setting, or the home folder cannot be\n"
        "created; 2 another terminal holds the home folder; 3 the settings cannot be read (the\n"
        "file is there but unreadable or no settings file: nothing is written over it) or written,\n"
        "or report cannot read tollan.mdb;\n"
        "64 wrong arguments.\n");
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
        } else if (a == "config" || a == "keys" || a == "report") {
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

int Cli_Config(const QStringList& command)
{
    const QString verb = command.value(1);
    // The store as the program sees it, but a read never writes a default back.
    Cfg_Init(kCfgRoot, 3, std::string("HKEY=") + std::string(kCfgHklm) + ";SaveDefaults=0;");
    // A file that cannot be read is neither shown as empty nor written over.
    std::string why;
    if (const bool known = verb == "get" || verb == "set" || verb == "list"; known && Reg_Check(&why) != kRegOk) {
        PrintLine(stderr, "tollan: cannot read the settings, " + why + "; nothing was changed");
        return 3;
    }
    if (verb == "get" && command.size() == 3) {
        const std::string value = Cfg_Get(ToBytes(command[2]), "");
        if (Cfg_LastError() == kRegNotFound) return 1;
        if (Cfg_LastError() != kRegOk) return 3;
        PrintLine(stdout, value);
        return 0;
    }
    if (verb == "set" && command.size() == 4) {
        // The record of the change goes to the terminal's event log, which this process opens
        // itself: the running terminal keeps the database in write-ahead mode, which lets it.
        // What the log cannot take goes to tollan.err.
        Db_Open();
        const bool stored = Admin_PutSetting("config", ToBytes(command[2]), ToBytes(command[3]));
        Db_Database().close();
        return stored && Cfg_LastError() == kRegOk ? 0 : 3;
    }
    if (verb == "list" && command.size() == 2) {
        const std::string root(kCfgRoot);
        for (const RegEntry& e : Reg_List()) {
            std::string key;
            if (Text_Equal(e.subkey, root)) {
                key = e.name;
            } else if (e.subkey.size() > root.size() && Text_Equal(e.subkey.substr(0, root.size()), root)
                       && e.subkey[root.size()] == '\\') {
                key = e.subkey.substr(root.size() + 1) + "\\" + e.name;
            } else {
                continue;
            }
            PrintLine(stdout, key + "=" + e.value);
        }
        return 0;
    }
    std::fprintf(stderr, "%s", Cli_Usage().toLocal8Bit().constData());
    return 64;
}

} // namespace tollan
