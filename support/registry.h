#pragma once
// The registry below HKEY_LOCAL_MACHINE, kept as registry.ini in the home folder: a section per
// subkey path ([SOFTWARE\Valdrin\Tollan\X25]) and name=value lines, UTF-8. Names of subkeys and values
// are case-insensitive and keep the case they were first written with. Saved atomically, mode 0600,
// and re-read when the file changed on disk, which opening a key checks: a key reads and writes the
// registry as it found it when it was opened. Every write is a read-modify-write of the file on
// disk under a lock that all processes share (registry.ini.lock beside the file), so a change saved
// by another process (`tollan config set` beside the running terminal) is never lost. The calls
// answer with the registry's own result codes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollan {

enum RegCode : std::int32_t {
    kRegOk = 0,
    kRegNotFound = 2,
    kRegAccessDenied = 5,
    kRegInvalidHandle = 6,
    kRegLocked = 33,  // another process held the registry's lock for longer than a write waits
    kRegMoreData = 234,
    kRegCorrupt = 1009,  // the file is there but is no registry file: nothing is saved over it
};
inline constexpr std::int32_t kRegHklm = -2147483646;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

using RegKey = std::int32_t;

// Whether registry.ini can be read: kRegOk when it can or is not there yet; otherwise the code
// every call gives until it can, and `why` the file and the cause (Windows-1252).
std::int32_t Reg_Check(std::string* why = nullptr);
std::int32_t Reg_OpenKey(std::int32_t hive, std::string_view subkey, std::uint32_t access, RegKey* key);
std::int32_t Reg_CreateKey(std::int32_t hive, std::string_view subkey, std::uint32_t access, RegKey* key);
// Copies the value and its terminating zero into `buffer`; 234 when `*size` bytes cannot hold them.
std::int32_t Reg_QueryValue(RegKey key, std::string_view name, char* buffer, std::uint32_t* size);
// Stores `data` (Windows-1252, without its zero byte) as a text value.
std::int32_t Reg_SetValue(RegKey key, std::string_view name, std::string_view data);
// Reads a value and stores what `change` makes of it as one step: no other process's write falls
// between the read and the save. `change` is given the value as it stands on disk (nullptr when
// absent) and returns the value to store, or nothing to leave the registry as it is. It is not
// called when the lock cannot be had.
using RegChange = std::function<std::optional<std::string>(const std::string* current)>;
std::int32_t Reg_ChangeValue(RegKey key, std::string_view name, const RegChange& change);
// Removes a value under the registry's lock; `before`, when given, gets what it held. kRegNotFound
// when it was not there.
std::int32_t Reg_DeleteValue(RegKey key, std::string_view name, std::optional<std::string>* before = nullptr);
std::int32_t Reg_CloseKey(RegKey key);
// While one lives, a lock another process holds is not waited for: the write fails at once with
// kRegLocked. For writes that may as well not happen, such as a default stored back on first read.
struct RegNoWait {
    RegNoWait();
    ~RegNoWait();
    RegNoWait(const RegNoWait&) = delete;
    RegNoWait& operator=(const RegNoWait&) = delete;
};
// The standard text of a result code ("Access is denied.").
std::string Reg_ErrorText(std::int32_t code);

// Every value as (subkey path, name, value), in file order (`tollan config list`).
struct RegEntry {
    std::string subkey, name, value;
};
std::vector<RegEntry> Reg_List();

// The file's parsed form, for the parser's own tests and the fuzz targets. Any path, name and
// value (bytes 1 to 255) reads back as it was formatted: what a plain line cannot hold is quoted.
struct RegSection {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;
    bool operator==(const RegSection&) const = default;
};
// `problem`, when given, gets the first line that is neither a section, a setting nor a comment,
// or that is no UTF-8 text ("line 7: ..."); such lines are read past.
std::vector<RegSection> Reg_Parse(std::string_view utf8, std::string* problem = nullptr);
std::string Reg_Format(const std::vector<RegSection>& sections);

} // namespace tollan
