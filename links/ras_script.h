#pragma once
// A dial-up service that does what it is told: for tests, and for demos on a machine without a
// modem ("RAS\Backend" = "script", its behaviour in "RAS\Script", e.g. "Up=0;DialCode=0").

#include "links/ras.h"
#include "support/wait.h"

#include <cstdint>
#include <string>

namespace tollan {

class RasScript final : public RasBackend {
public:
    bool up = false;                 // a connection is active
    std::int32_t dialCode = 0;       // what the next dial answers
    std::string dialText = "Modem reports busy.";
    std::int64_t dialMs = 0;         // how long a dial takes to answer, on the program's clock
    RasHandle nextHandle = 7;
    int dials = 0, hangUps = 0, finds = 0;
    RasDialParams lastDial;

    static RasScript FromSetting();

    Task<RasFound> findActive() override
    {
        ++finds;
        co_return RasFound{up ? nextHandle : 0, 0};
    }
    Task<RasDialed> dial(RasDialParams p) override
    {
        ++dials;
        lastDial = p;
        if (dialMs > 0)
            co_await Wait_For(dialMs);
        if (dialCode != 0)
            co_return RasDialed{dialCode, 0};
        up = true;
        co_return RasDialed{0, nextHandle};
    }
    Task<std::int32_t> hangUp(RasHandle) override
    {
        ++hangUps;
        up = false;
        co_return 0;
    }
    std::optional<std::string> errorText(std::int32_t code) override
    {
        if (code == dialCode && code != 0)
            return dialText;
        return std::nullopt;
    }
};

} // namespace tollan
