#include "dialogues/merchant.h"

#include "support/config.h"

namespace tollan {

std::string KK_Get(const KKSetting& s) { return Cfg_Get(s.key, s.def); }

std::string KK_PosSetting(std::string_view toojaam, std::string_view key, std::string_view def)
{
    // The register's code comes over the wire: its own setting is looked up, never written back.
    std::string own = Cfg_Lookup("POS" + std::string(KK_PosNumber(toojaam)) + "\\" + std::string(key), "");
    if (!own.empty()) return own;
    return Cfg_Get(key, def);
}

std::string KK_CardAcceptorId(std::string_view toojaam) { return KK_CardAcceptorId(KK_Get(kKK_FirmaRegNr), toojaam); }

std::string KK_LocationField() { return KK_LocationField(KK_Get(kKK_FirmaLokaator)); }

MerchantIds KK_MerchantIds(std::string_view toojaam)
{
    MerchantIds ids;
    ids.ProtsKood = KK_Get(kKK_ProtsKood);
    ids.AutoriseerijaID = KK_Get(kKK_AutoriseerijaID);
    ids.EdastajaID = KK_Get(kKK_EdastajaID);
    ids.Tegevusala = KK_PosSetting(toojaam, kKK_Tegevusala.key, kKK_Tegevusala.def);
    ids.TerminaliTunnus = KK_Get(kKK_TerminaliTunnus);
    ids.CardAcceptorId = KK_CardAcceptorId(toojaam);
    ids.Location = KK_LocationField();
    ids.Valuutakood = KK_Get(kKK_Valuutakood);
    return ids;
}

} // namespace tollan
