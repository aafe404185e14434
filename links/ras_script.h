#pragma once
// A dial-up service that does what it is told: for tests, and for demos on a machine without a
// modem ("RAS\Backend" = "script", its behaviour in "RAS\Script", e.g. "Up=0;DialCode=0").

#include "links/ras.h"

#include <cstdint>
#include <string>

namespace tollan {

class RasScript final : public RasBackend {
public:
    bool up = false;                 // a connection is active
    std::int32_t dialCode = 0;       // what the next dial answers
    std::string dialText = "Modem reports busy.";
    RasHandle nextHandle = 7;
    int dials = 0, hangUps = 0, finds = 0;
    RasDialParams lastDial;

    static RasScript FromSetting();

    RasHandle findActive(std::int32_t& code) override
    {
        ++finds;
        code = 0;
        return up ? nextHandle : 0;
    }
    std::int32_t dial(const RasDialParams& p, RasHandle& handle) override
    {
        ++dials;
        lastDial = p;
        if (dialCode != 0)
            return dialCode;
        up = true;
        handle = nextHandle;
        return 0;
    }
    std::int32_t hangUp(RasHandle) override
    {
        ++hangUps;
        up = false;
        return 0;
    }
    std::optional<std::string> errorText(std::int32_t code) override
    {
        if (code == dialCode && code != 0)
            return dialText;
        return std::nullopt;
    }
};

} // namespace tollan
