#pragma once
// The dial-up manager: finds an active dial-up connection, dials the configured entry, hangs up.
// It keeps its own count of acquires and never hangs up a connection that it did not dial itself.
// The dial-up service is a backend chosen by "RAS\Backend": "pppd" (pon/poff and the ppp
// interfaces, the default), "nmcli" (NetworkManager), or one that a test puts in place.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tollan {

// A connection as the service knows it; 0 is none.
using RasHandle = std::int64_t;

// What a dial hands to the service, each value cut to the length the service takes.
struct RasDialParams {
    std::string entry;     // 256
    std::string number;    // 128; empty: the entry's own number
    std::string callback;  // 128, always empty
    std::string user;      // 256
    std::string password;  // 256
    std::string domain;    // 15
};

class RasBackend {
public:
    virtual ~RasBackend() = default;
    // The first active dial-up connection; `code` gets the service's result.
    virtual RasHandle findActive(std::int32_t& code) = 0;
    // Dials and waits for the outcome: 0 with `handle` set, or a result code; a failed dial may
    // still leave a handle that the service handed out, which the caller hangs up.
    virtual std::int32_t dial(const RasDialParams& p, RasHandle& handle) = 0;
    virtual std::int32_t hangUp(RasHandle handle) = 0;
    // The service's text for a result code, when it has one.
    virtual std::optional<std::string> errorText(std::int32_t code) = 0;
};

// Puts a backend in place (nullptr: the one "RAS\Backend" names). The caller keeps ownership.
void Ras_SetBackend(RasBackend* backend);

void Ras_Init();
RasHandle Ras_FindConnection();
RasHandle Ras_Dial();
std::string Ras_ErrorText(std::int32_t code);
void Ras_Acquire();
void Ras_Release();

// The manager's state (tests and the main window).
int Ras_Count();
std::int32_t Ras_LastError();
bool Ras_Foreign();
void Ras_Reset();

// The dial parameters from the settings, cut to their lengths.
RasDialParams Ras_DialParams();

// What the real backends read, for their tests: the names of the active dial-up connections in
// `nmcli -t -f NAME,TYPE,STATE connection show --active` output, and the number of the first ppp
// interface that is up in a /sys/class/net listing (-1 when none).
std::vector<std::string> Ras_NmcliDialUps(const std::string& terseOutput);
int Ras_FirstPppUp(const std::string& sysClassNet);

} // namespace tollan
