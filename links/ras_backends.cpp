// The dial-up services: pppd (pon/poff and the ppp interfaces), NetworkManager (nmcli), and a
// scripted one for tests and demos. Their programs run while the event loop goes on: a call's
// task ends when the service has answered.

#include "links/ras.h"
#include "links/ras_script.h"

#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/home.h"
#include "support/text.h"
#include "support/wait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryFile>

#include <algorithm>

#include <map>
#include <memory>

namespace tollan {
namespace {

// Result codes of our own, in the range the dial-up service used, with their texts.
enum : std::int32_t {
    kRasNoProgram = 623,   // the service's program is missing or would not start
    kRasNoAnswer = 678,    // no connection came up in time
    kRasFailed = 651,      // the service reported a failure
    kRasUnknownBackend = 624,
};
const std::map<std::int32_t, std::string> kTexts = {
    {kRasNoProgram, "The dial-up program could not be started."},
    {kRasNoAnswer, "The remote computer did not respond."},
    {kRasFailed, "The dial-up service reported an error."},
    {kRasUnknownBackend, "The dial-up service named in RAS\\Backend is not known."},
};
std::optional<std::string> textOf(std::int32_t code)
{
    auto it = kTexts.find(code);
    if (it == kTexts.end())
        return std::nullopt;
    return it->second;
}

// What becomes of a program under way when the terminal stops. Starting and stopping pppd (pon,
// poff) and a hang-up's own programs go to their end, on the thread but for seconds at most, since
// a line left up costs the shop by the minute and nothing else is served any more; what waits for
// a line to come up is killed at once.
enum class AtStop { Kill, Finish };
constexpr std::int64_t kAtStopMs = 5000;

// Runs a program and awaits its end; -1 when it would not start or did not end within `ms`.
Task<int> run(QString program, QStringList args, int ms, AtStop atStop, QByteArray* out = nullptr,
              QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    QObject::connect(&p, &QProcess::finished, [] { Wait_Notify(); });
    QObject::connect(&p, &QProcess::errorOccurred, [] { Wait_Notify(); });
    const auto ended = [&p] { return p.state() == QProcess::NotRunning; };
    const std::int64_t deadline = Clock_Ms() + ms;
    p.start(program, args);
    co_await Wait_Until(ended, ms);
    if (!ended() && atStop == AtStop::Finish && App_Stopping())
        p.waitForFinished(int(std::clamp<std::int64_t>(deadline - Clock_Ms(), 0, kAtStopMs)));
    if (!ended()) {
        p.kill();
        p.waitForFinished(1000);   // a killed program is gone at once
        co_return -1;
    }
    if (p.error() == QProcess::FailedToStart || p.exitStatus() != QProcess::NormalExit)
        co_return -1;
    if (out)
        *out = p.readAllStandardOutput();
    co_return p.exitCode();
}

double dialSeconds() { return Num_Value(Cfg_Get("RAS\\DialTimeout", "60")); }

QString sysClassNet()
{
    QString dir = qEnvironmentVariable("TOLLAN_SYS_CLASS_NET");
    return dir.isEmpty() ? QStringLiteral("/sys/class/net") : dir;
}

// pppd: `pon ENTRY` starts the peer /etc/ppp/peers/ENTRY; the connection is up when a ppp
// interface is. The password stays in pppd's secrets files, never on a command line; the number,
// when set, reaches the peer's chat script as $TOLLAN_RAS_NUMBER.
class PppdBackend final : public RasBackend {
public:
    Task<RasFound> findActive() override { co_return RasFound{up(), 0}; }
    Task<RasDialed> dial(RasDialParams p) override
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!p.number.empty())
            env.insert("TOLLAN_RAS_NUMBER", Text_ToQString(p.number));
        QStringList args{Text_ToQString(p.entry)};
        if (!p.user.empty())
            args << "user" << Text_ToQString(p.user);
        if (!p.domain.empty())
            args << "domain" << Text_ToQString(p.domain);
        const int rc = co_await run("pon", args, 30000, AtStop::Finish, nullptr, env);
        if (rc < 0)
            co_return RasDialed{kRasNoProgram, 0};
        if (rc != 0)
            co_return RasDialed{kRasFailed, 0};
        entry_ = p.entry;
        // A look every tenth of a second; a stop ends the looking and hangs up what pon started.
        const int limit = int(dialSeconds() * 10);
        for (int i = 0; i < limit && !App_Stopping(); ++i) {
            if (const RasHandle handle = up())
                co_return RasDialed{0, handle};
            co_await Wait_For(100);
        }
        // (GCC 12 mishandles a braced list inside a co_await: every argument list is a named one.)
        const QStringList off{Text_ToQString(p.entry)};
        co_await run("poff", off, 30000, AtStop::Finish);
        co_return RasDialed{kRasNoAnswer, 0};
    }
    Task<std::int32_t> hangUp(RasHandle) override
    {
        const QStringList off{Text_ToQString(entry_.empty() ? Ras_DialParams().entry : entry_)};
        const int rc = co_await run("poff", off, 30000, AtStop::Finish);
        co_return rc == 0 ? 0 : rc < 0 ? kRasNoProgram : kRasFailed;
    }
    std::optional<std::string> errorText(std::int32_t code) override { return textOf(code); }

private:
    // The handle of the first ppp interface that is up (its number + 1), 0 when none is.
    static RasHandle up()
    {
        const int n = Ras_FirstPppUp(listing());
        return n < 0 ? 0 : RasHandle(n) + 1;
    }
    // "name flags" lines of the interfaces, as Ras_FirstPppUp reads them.
    static std::string listing()
    {
        std::string out;
        const QDir dir(sysClassNet());
        for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
            QFile f(dir.filePath(name + "/flags"));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            out += name.toStdString() + " " + f.readAll().trimmed().toStdString() + "\n";
        }
        return out;
    }
    std::string entry_;
};

// NetworkManager: a connection of a dial-up type that is active. The password, when set, goes to
// nmcli through a file only we can read.
class NmcliBackend final : public RasBackend {
public:
    Task<RasFound> findActive() override { co_return co_await find(AtStop::Kill); }
    Task<RasDialed> dial(RasDialParams p) override
    {
        QStringList args{"--wait", QString::number(int(dialSeconds())), "connection", "up", "id", Text_ToQString(p.entry)};
        QTemporaryFile secrets;
        if (!p.password.empty()) {
            if (!secrets.open())
                co_return RasDialed{kRasFailed, 0};
            secrets.write(("ppp.password:" + Text_Cp1252ToUtf8(p.password) + "\n").c_str());
            secrets.flush();
            args << "passwd-file" << secrets.fileName();
        }
        const int rc = co_await run("nmcli", args, int(dialSeconds() * 1000) + 5000, AtStop::Kill);
        if (rc < 0)
            co_return RasDialed{kRasNoProgram, 0};
        if (rc != 0)
            co_return RasDialed{kRasFailed, 0};
        const RasFound found = co_await find(AtStop::Kill);
        co_return RasDialed{found.handle != 0 ? 0 : kRasNoAnswer, found.handle};
    }
    Task<std::int32_t> hangUp(RasHandle) override
    {
        co_await find(AtStop::Finish);
        if (names_.empty())
            co_return 0;
        const QStringList down{"connection", "down", "id", QString::fromStdString(names_.front())};
        const int rc = co_await run("nmcli", down, 30000, AtStop::Finish);
        co_return rc == 0 ? 0 : rc < 0 ? kRasNoProgram : kRasFailed;
    }
    std::optional<std::string> errorText(std::int32_t code) override { return textOf(code); }

private:
    Task<RasFound> find(AtStop atStop)
    {
        QByteArray out;
        const QStringList show{"-t", "-f", "NAME,TYPE,STATE", "connection", "show", "--active"};
        const int rc = co_await run("nmcli", show, 10000, atStop, &out);
        names_ = Ras_NmcliDialUps(out.toStdString());
        co_return RasFound{names_.empty() ? 0 : 1, rc == 0 ? 0 : rc < 0 ? kRasNoProgram : kRasFailed};
    }
    std::vector<std::string> names_;
};

// A backend named by nobody: every call fails with a text that says so, and nothing is dialled.
class UnknownBackend final : public RasBackend {
public:
    Task<RasFound> findActive() override { co_return RasFound{0, kRasUnknownBackend}; }
    Task<RasDialed> dial(RasDialParams) override { co_return RasDialed{kRasUnknownBackend, 0}; }
    Task<std::int32_t> hangUp(RasHandle) override { co_return kRasUnknownBackend; }
    std::optional<std::string> errorText(std::int32_t code) override { return textOf(code); }
};

} // namespace

std::unique_ptr<RasBackend> Ras_MakeBackend(const std::string& name)
{
    const std::string n = Str_Upper(Str_Trim(name));
    if (n == "PPPD" || n.empty())
        return std::make_unique<PppdBackend>();
    if (n == "NMCLI")
        return std::make_unique<NmcliBackend>();
    if (n == "SCRIPT")
        return std::make_unique<RasScript>(RasScript::FromSetting());
    return std::make_unique<UnknownBackend>();
}

std::vector<std::string> Ras_NmcliDialUps(const std::string& out)
{
    static const std::vector<std::string> dialUpTypes = {"ppp", "pppoe", "gsm", "cdma", "bluetooth", "adsl"};
    std::vector<std::string> names;
    for (const std::string& line : Str_Split(out, "\n")) {
        // NAME:TYPE:STATE, with ":" in a name written as "\:".
        std::vector<std::string> fields{""};
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size())
                fields.back() += line[++i];
            else if (line[i] == ':')
                fields.emplace_back();
            else
                fields.back() += line[i];
        }
        if (fields.size() < 3)
            continue;
        std::string type = fields[1];
        if (auto dash = type.rfind('-'); dash != std::string::npos)
            type = type.substr(dash + 1);  // "802-3-ethernet" and the like
        const bool dialUp = std::find(dialUpTypes.begin(), dialUpTypes.end(), type) != dialUpTypes.end();
        if (dialUp && Str_Trim(fields[2]) == "activated")
            names.push_back(fields[0]);
    }
    return names;
}

int Ras_FirstPppUp(const std::string& listing)
{
    int best = -1;
    for (const std::string& line : Str_Split(listing, "\n")) {
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || line.compare(0, 3, "ppp") != 0)
            continue;
        const std::string digits = line.substr(3, space - 3);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6)
            continue;
        const unsigned long flags = std::strtoul(line.c_str() + space + 1, nullptr, 16);
        const int n = std::stoi(digits);
        if ((flags & 1) && (best < 0 || n < best))  // IFF_UP
            best = n;
    }
    return best;
}

} // namespace tollan

namespace tollan {

RasScript RasScript::FromSetting()
{
    const std::string s = Cfg_Get("RAS\\Script", "");
    RasScript r;
    r.up = Num_Value(Param_GetOr(s, "Up", "0")) != 0;
    r.dialCode = std::int32_t(Num_Value(Param_GetOr(s, "DialCode", "0")));
    r.dialText = Param_GetOr(s, "DialText", r.dialText);
    return r;
}

} // namespace tollan
