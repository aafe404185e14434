#pragma once
// Administrative actions in the event log (table Log), each with the operating-system user who took
// it: a setting changed (by `tollan config set` or the settings dialog), the operator's own purchase
// or cancellation, the terminal started or stopped, a key rotated. The card schemes ask that every
// such action can be traced to a person. The row's Object is "Admin " and the user; its Message
// says what was done, in at most 100 characters.

#include "store/db.h"

#include <string>
#include <string_view>

namespace tollan {

// The user as the record names them: the account the process runs as, followed by the person who
// logged in when that is someone else ("tollan (mari)" after `sudo -u tollan`): the login the
// kernel keeps for the session, else sudo's SUDO_USER.
std::string Log_AdminUser();

// Writes one administrative record. When the event log cannot take it (tollan.mdb not open,
// read-only, its disk full) the record goes to tollan.err instead, and from there to stderr when
// that cannot take it either: no record is lost without a word. Returns the event log's outcome.
DbStatus Log_Admin(std::string_view what);

// The record of a setting changed by `via` ("config", "Seadista"): the key, the old and the new
// value, "KEY: OLD -> NEW". A secret's value shows as "***", an empty one as "", an absent one as
// "(puudus)"; long values are cut so that both fit.
DbStatus Log_SettingChanged(std::string_view via, std::string_view key, const std::optional<std::string>& before,
                            std::string_view after);

// Stores a setting as an administrator's change: Cfg_Replace, then the record of it when the value
// differs from what the setting held. True when stored (a failure is reported by the store).
bool Admin_PutSetting(std::string_view via, std::string_view key, std::string_view value);
// Removes a setting as an administrator's change, recorded as "KEY: OLD -> (puudus)" when it was
// there. True when it is absent now.
bool Admin_UnsetSetting(std::string_view via, std::string_view key);

} // namespace tollan
