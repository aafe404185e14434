#include "store/admin_log.h"

#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace tollan {

namespace {

constexpr std::size_t kMessageSize = 100;   // the Log table's Message

std::string UserName(uid_t uid)
{
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return Text_FromQString(QString::fromLocal8Bit(found->pw_name));
    return std::to_string(uid);
}

// The user who logged in to the session this process belongs to, as the kernel keeps it across
// sudo and su; none for a process no login started (a service).
std::optional<uid_t> LoginUid()
{
    QFile f(QStringLiteral("/proc/self/loginuid"));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const qulonglong id = f.readAll().trimmed().toULongLong(&ok);
    if (!ok || id == qulonglong(uid_t(-1)))
        return std::nullopt;
    return uid_t(id);
}

std::string Shown(std::string_view key, const std::optional<std::string>& value, std::size_t room)
{
    if (!value)
        return "(puudus)";
    if (value->empty())
        return "\"\"";
    if (Cfg_IsSecret(key))
        return "***";
    if (value->size() <= room)
        return *value;
    return value->substr(0, room > 3 ? room - 3 : 0) + "...";
}

} // namespace

std::string Log_AdminUser()
{
    const uid_t uid = ::getuid();
    const std::string account = UserName(uid);
    std::string person;
    if (const std::optional<uid_t> login = LoginUid(); login && *login != uid)
        person = UserName(*login);
    else if (!login)
        person = Text_FromQString(qEnvironmentVariable("SUDO_USER"));
    return person.empty() || person == account ? account : account + " (" + person + ")";
}

DbStatus Log_Admin(std::string_view what)
{
    const std::string who = "Admin " + Log_AdminUser();
    const DbStatus logged = Log_EventNamed(who, -1, what);
    if (!logged)
        Err_Log(logged.number, logged.description,
                Text_Utf8ToCp1252("Sündmuste logi ei võtnud kirjet: ") + who + ": " + std::string(what));
    return logged;
}

DbStatus Log_SettingChanged(std::string_view via, std::string_view key, const std::optional<std::string>& before,
                            std::string_view after)
{
    const std::string head = std::string(via) + ": " + std::string(key) + " ";
    const std::size_t room = (kMessageSize - std::min(kMessageSize, head.size() + 4)) / 2;
    return Log_Admin(head + Shown(key, before, room) + " -> " + Shown(key, std::string(after), room));
}

bool Admin_PutSetting(std::string_view via, std::string_view key, std::string_view value)
{
    std::optional<std::string> before;
    if (!Cfg_Replace(key, value, before))
        return false;
    if (!before || *before != value)
        Log_SettingChanged(via, key, before, value);
    return true;
}

bool Admin_UnsetSetting(std::string_view via, std::string_view key)
{
    std::optional<std::string> before;
    if (!Cfg_Delete(key, before))
        return false;
    if (before) {
        const std::string head = std::string(via) + ": " + std::string(key) + " ";
        const std::size_t room = (kMessageSize - std::min(kMessageSize, head.size() + 4)) / 2;
        Log_Admin(head + Shown(key, before, room) + " -> " + Shown(key, std::nullopt, room));
    }
    return true;
}

} // namespace tollan
