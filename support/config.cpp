#include "support/config.h"

#include "support/errors.h"
#include "support/registry.h"
#include "support/codepage.h"
#include "support/text.h"

#include <array>
#include <optional>
#include <exception>

namespace tollan {

namespace {

struct Store {
    std::string root;
    std::int16_t backend = 0;
    std::string params;
    bool initialised = false;
    std::int32_t lastError = 0;
    std::string startRoot = std::string(kCfgRoot);
};

Store& State()
{
    static Store store;
    return store;
}

void EnsureInit()
{
    Store& s = State();
    if (!s.initialised) Cfg_Init(s.startRoot, 3, kCfgHklm);
}

std::int32_t Hive()
{
    // Every read and write asks; the answer changes only with the root's parameters.
    static std::string params;
    static std::int32_t hive = 0;
    const Store& s = State();
    if (s.params != params || hive == 0) {
        params = s.params;
        hive = static_cast<std::int32_t>(Num_Value(Param_GetOr(s.params, "HKEY", s.params)));
    }
    return hive;
}

std::string Details(std::string_view key)
{
    const Store& s = State();
    std::string details;
    Param_Set(details, "Type", std::to_string(s.backend));
    Param_Set(details, "File", s.root);
    Param_Set(details, "Key", key);
    Param_Set(details, "Param", "\"" + s.params + "\"");
    return details;
}

// A registry.ini that cannot be read is told once for each cause, not at every setting read while
// it lasts; false for every other failure, which the caller reports as it comes.
bool ReportedUnreadable(std::int32_t code)
{
    static std::string told;
    std::string why;
    if (Reg_Check(&why) == kRegOk) {
        told.clear();
        return false;
    }
    if (code != kRegAccessDenied && code != kRegCorrupt) return false;
    if (why != told)
        Err_Report(code, Reg_ErrorText(code),
                   Text_Utf8ToCp1252("Seadete faili ei saa lugeda; seadeid ei muudeta, kuni see on parandatud"), 16, why);
    told = why;
    return true;
}

} // namespace

bool Cfg_Init(std::string_view root, std::int16_t backend, std::string_view params)
{
    Store& s = State();
    s.root = std::string(root);
    s.backend = backend;
    s.params = std::string(params);
    s.initialised = true;
    return true;
}

void Cfg_SetRoot(std::string_view root)
{
    State().startRoot = std::string(root);
    State().initialised = false;
}

void Cfg_Reset() { State().initialised = false; }

std::int32_t Cfg_LastError() { return State().lastError; }

CfgKey Cfg_SplitKey(std::string_view root, std::string_view key)
{
    const std::size_t last = key.find_last_of("\\/.");
    if (last == std::string_view::npos || last + 1 == key.size()) return {std::string(root), std::string(key)};
    return {std::string(root) + "\\" + std::string(key.substr(0, last)), std::string(key.substr(last + 1))};
}

namespace {

// Creates the key's section when it is absent and applies `change` to its value under the
// registry's lock; a failure is reported and leaves the stored value as it was.
bool Write(std::string_view key, const RegChange& change, bool mayWait = true)
{
    EnsureInit();
    Store& s = State();
    try {
        const CfgKey k = Cfg_SplitKey(s.root, key);
        RegKey handle = 0;
        std::int32_t code = Reg_CreateKey(Hive(), k.subkey, kKeyAllAccess, &handle);
        s.lastError = code;
        if (code == kRegOk) {
            code = Reg_ChangeValue(handle, k.name, change);
            s.lastError = code;
            Reg_CloseKey(handle);
        }
        if (code != kRegOk && !ReportedUnreadable(code) && (mayWait || code != kRegLocked))
            Err_Report(code, Reg_ErrorText(code), "Viga konf.-faili kirjutamisel", 48, Details(key));
        return code == kRegOk;
    } catch (const std::exception& e) {
        s.lastError = -1;
        Err_Report(-1, e.what(), "Viga konf.-faili kirjutamisel", 48, Details(key));
        return false;
    }
}

std::string Read(std::string_view key, std::string_view def, bool writeBack)
{
    EnsureInit();
    Store& s = State();
    try {
        const CfgKey k = Cfg_SplitKey(s.root, key);
        RegKey handle = 0;
        std::int32_t code = Reg_OpenKey(Hive(), k.subkey, kKeyRead, &handle);
        s.lastError = code;
        const bool opened = code == kRegOk;
        std::array<char, 1024> buffer{};
        if (opened) {
            std::uint32_t size = buffer.size();
            code = Reg_QueryValue(handle, k.name, buffer.data(), &size);
            s.lastError = code;
        }
        if (opened) Reg_CloseKey(handle);
        if (code == kRegOk) return std::string(buffer.data());
        if (code == kRegNotFound) {
            if (!writeBack || Num_Value(Param_GetOr(s.params, "SaveDefaults", "-1")) == 0) return std::string(def);
            // Another process may have set it since it was read: its value stands, not the default.
            // Storing the default is a convenience, not worth a wait on another process's lock:
            // the one thread goes on, and the next read tries again.
            std::string value(def);
            const RegNoWait quick;
            Write(key, [&value](const std::string* current) -> std::optional<std::string> {
                if (current) {
                    value = *current;
                    return std::nullopt;
                }
                return value;
            }, false);
            return value;
        }
        if (!ReportedUnreadable(code)) Err_Report(code, "", "viga registrist lugemisel", 48, "");
        return std::string(def);
    } catch (const std::exception& e) {
        Err_Report(-1, e.what(), "Viga konf.-failist lugemisel", 48, Details(key));
        return std::string(def);
    }
}

} // namespace

std::string Cfg_Get(std::string_view key, std::string_view def) { return Read(key, def, true); }

std::string Cfg_Lookup(std::string_view key, std::string_view def) { return Read(key, def, false); }

bool Cfg_Put(std::string_view key, std::string_view value)
{
    return Write(key, [value](const std::string*) { return std::optional<std::string>(value); });
}

bool Cfg_Replace(std::string_view key, std::string_view value, std::optional<std::string>& before)
{
    before.reset();
    return Write(key, [&](const std::string* current) {
        if (current) before = *current;
        return std::optional<std::string>(value);
    });
}

bool Cfg_Delete(std::string_view key, std::optional<std::string>& before)
{
    EnsureInit();
    Store& s = State();
    before.reset();
    const CfgKey k = Cfg_SplitKey(s.root, key);
    RegKey handle = 0;
    std::int32_t code = Reg_OpenKey(Hive(), k.subkey, kKeyRead, &handle);
    if (code == kRegOk) {
        code = Reg_DeleteValue(handle, k.name, &before);
        Reg_CloseKey(handle);
    }
    s.lastError = code;
    if (code == kRegNotFound) return true;
    if (code != kRegOk && !ReportedUnreadable(code))
        Err_Report(code, Reg_ErrorText(code), "Viga konf.-faili kirjutamisel", 48, Details(key));
    return code == kRegOk;
}

bool Cfg_IsSecret(std::string_view key)
{
    const std::string name = Str_Upper(Cfg_SplitKey("", key).name);
    for (const char* word : {"PASSWORD", "PASSWD", "PASSPHRASE", "SECRET"})
        if (name.find(word) != std::string::npos) return true;
    return false;
}

bool Cfg_Change(std::string_view key, std::string_view def, const std::function<std::string(const std::string&)>& next)
{
    bool called = false;
    const bool stored = Write(key, [&](const std::string* current) {
        called = true;
        return std::optional<std::string>(next(current ? *current : std::string(def)));
    });
    // The lock could not be had: the caller still gets its answer from the value as last read.
    if (!called) {
        const std::int32_t code = State().lastError;
        next(Read(key, def, false));
        State().lastError = code;
    }
    return stored;
}

} // namespace tollan
