#pragma once
// The settings that tell the card centre who the merchant and the terminal are, each with its one
// default, read where a request or a transaction file is made: the messages and the file's lines
// themselves (protocol/) read no settings.

#include "protocol/messages.h"

#include <string>
#include <string_view>

namespace tollan {

struct KKSetting {
    std::string_view key;
    std::string_view def;
};
inline constexpr KKSetting kKK_ProtsKood{"ProtsKood", "000580"};
inline constexpr KKSetting kKK_AutoriseerijaID{"AutoriseerijaID", ""};
inline constexpr KKSetting kKK_EdastajaID{"EdastajaID", ""};
inline constexpr KKSetting kKK_TerminaliTunnus{"TerminaliTunnus", ""};
inline constexpr KKSetting kKK_Valuutakood{"Valuutakood", "233"};
inline constexpr KKSetting kKK_FirmaRegNr{"FirmaRegNr", ""};
inline constexpr KKSetting kKK_FirmaLokaator{"FirmaLokaator", ""};
// The merchant activity code (MCC): element 18 of the requests and columns 61-64 of the file's group
// header. The store ignores case, so "TegevusAla" is this same setting: one name, one default, or
// whichever reader came first would write its default for the other. A register's own
// "POSnnn\Tegevusala" wins in both places (KK_PosSetting).
inline constexpr KKSetting kKK_Tegevusala{"Tegevusala", "0000"};
inline constexpr KKSetting kKK_ReceiverID{"ReceiverID", "KK"};
inline constexpr KKSetting kKK_FirmaNimi{"FirmaNimi", ""};
inline constexpr KKSetting kKK_FirmaTunnus{"FirmaTunnus", ""};
inline constexpr KKSetting kKK_NextTransFileNr{"NextTransFileNr", "1"};
// Cfg_Get of the setting with its default.
std::string KK_Get(const KKSetting& s);

// The setting POSnnn\key of the workstation whose Toojaam ends in nnn (looked up only: an absent
// one is not written back), else the setting key.
std::string KK_PosSetting(std::string_view toojaam, std::string_view key, std::string_view def);
// The acceptor id of a workstation (element 42) from "FirmaRegNr".
std::string KK_CardAcceptorId(std::string_view toojaam);
// Element 43 from "FirmaLokaator".
std::string KK_LocationField();
// Everything a request of `toojaam` says of the merchant, as the settings have it now.
MerchantIds KK_MerchantIds(std::string_view toojaam);

} // namespace tollan
