#pragma once
// The configuration store: every setting of the terminal is a text value under one root path of the
// registry (registry.ini in the home folder). A setting read while absent is written back with the
// reader's default, so after the first run the file lists every setting the program asked for;
// names made from what a register or a card sends are only looked up (Cfg_Lookup), or each new
// register code and card range would add to the file for good.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tollan {

// The root that start-up puts in force before the first setting is read.
inline constexpr std::string_view kCfgRoot = "SOFTWARE\\Valdrin\\Tollan";
// The decimal text of the HKEY_LOCAL_MACHINE handle, the store's parameter list.
inline constexpr std::string_view kCfgHklm = "-2147483646";

bool Cfg_Init(std::string_view root, std::int16_t backend, std::string_view params);
// The root the first Cfg_Get or Cfg_Put initialises the store with (default kCfgRoot).
void Cfg_SetRoot(std::string_view root);
// Forgets the initialisation, so that the next call starts over (tests, `tollan config`).
void Cfg_Reset();
// The stored text of the setting, or `def` (reported failures never reach the caller). An absent
// setting is written back with `def`, unless another process has set it meanwhile.
std::string Cfg_Get(std::string_view key, std::string_view def);
// The same, but an absent setting stays absent: for names made from what comes over the wire.
std::string Cfg_Lookup(std::string_view key, std::string_view def);
// True when the value is stored; a failure is reported and leaves the stored value as it was.
bool Cfg_Put(std::string_view key, std::string_view value);
// Cfg_Put that also says what the setting held before, read under the same lock as the write
// (nullopt: it was absent), so the record of a change names the value it replaced.
bool Cfg_Replace(std::string_view key, std::string_view value, std::optional<std::string>& before);
// Stores what `next` makes of the setting's value (`def` when absent) as one step that no other
// process's write falls between: a counter counted on here never repeats a number. True when
// stored; a failure is reported, and `next` is still given the value as last read.
bool Cfg_Change(std::string_view key, std::string_view def, const std::function<std::string(const std::string&)>& next);
// Removes the setting, so that its readers take their default again; `before` says what it held
// (nullopt: it was absent). True when it is absent now; a failure is reported.
bool Cfg_Delete(std::string_view key, std::optional<std::string>& before);
// The result code of the most recent registry call (0 success).
std::int32_t Cfg_LastError();

// Whether the setting holds a secret, which no log, list or record shows: every password
// ("X25\Password", "RAS\Password") and whatever setting is named like one (its value name holds
// "password", "passwd", "passphrase" or "secret", in any case).
bool Cfg_IsSecret(std::string_view key);

// The subkey path and value name of a key below the root ("X25\Number" is Number of root\X25).
struct CfgKey {
    std::string subkey;
    std::string name;
};
CfgKey Cfg_SplitKey(std::string_view root, std::string_view key);

} // namespace tollan
