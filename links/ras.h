#pragma once
// The dial-up manager: finds an active dial-up connection, dials the configured entry, hangs up.
// It keeps its own count of acquires and never hangs up a connection that it did not dial itself.
// The dial-up service is a backend chosen by "RAS\Backend": "pppd" (pon/poff and the ppp
// interfaces, the default), "nmcli" (NetworkManager), or one that a test puts in place.
//
// Every call that asks the service is a task: the programs it runs and the minute a dial may take
// are co_awaited on the event loop, so the registers, the window and the scheduler go on meanwhile.

#include "support/task.h"

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

// The first active dial-up connection (0: none) and the service's result code.
struct RasFound {
    RasHandle handle = 0;
    std::int32_t code = 0;
};
// The outcome of a dial: code 0 with the handle, or a result code; a failed dial may still hold a
// handle that the service handed out, which the caller hangs up.
struct RasDialed {
    std::int32_t code = 0;
    RasHandle handle = 0;
};

class RasBackend {
public:
    virtual ~RasBackend() = default;
    virtual Task<RasFound> findActive() = 0;
    // Ends when the connection is up or the dial has failed.
    virtual Task<RasDialed> dial(RasDialParams p) = 0;
    virtual Task<std::int32_t> hangUp(RasHandle handle) = 0;
    // The service's text for a result code, when it has one.
    virtual std::optional<std::string> errorText(std::int32_t code) = 0;
};

// Puts a backend in place (nullptr: the one "RAS\Backend" names). The caller keeps ownership.
void Ras_SetBackend(RasBackend* backend);

// Adopts a connection that is up already (at start-up).
Task<void> Ras_Init();
Task<RasHandle> Ras_FindConnection();
Task<RasHandle> Ras_Dial();
std::string Ras_ErrorText(std::int32_t code);
// Not two at once: the links' use (dialup.h) lets one acquire or release run at a time. At the
// program's end, with every wait over, a release hangs up within seconds, on the thread.
Task<void> Ras_Acquire();
Task<void> Ras_Release();

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
