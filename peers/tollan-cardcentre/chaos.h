#pragma once
// A card centre that misbehaves at random, as real ones do, and the same way again for the same
// seed: for every authorisation request a behaviour drawn from the table in chaos.cpp, for every
// transaction file NAKs of some lines and the verdict. Authorisations and files draw from
// generators of their own, so the order in which they interleave does not change either sequence.
#include "peers/tollan-cardcentre/rules.h"

#include <cstdint>
#include <random>
#include <string>

namespace tollan::peer {

struct ChaosOptions {
    std::uint64_t seed = 0;
    int faultsPercent = 40;   // the share of requests not simply approved
    int lateMs = 16000;       // how late "late" is: past the terminal's 15 seconds for the first answer
    std::string authCode;     // element 38 of every approval; empty: drawn for each
};

class Chaos {
public:
    explicit Chaos(const ChaosOptions& o);
    // The behaviour for one request, and the choice's name.
    Behaviour Authorisation(std::string& choice);
    // The line of a new file that is NAKed four times, so that the terminal abandons the file; 0
    // for a file that gets through.
    int FileAbandonLine();
    // How many NAKs a line gets before its ACK; `abandon` is FileAbandonLine's line.
    int LineNaks(bool abandon);
    // The verdict's status: 1 accepts the file, 0 refuses it.
    int VerdictStatus();

private:
    ChaosOptions o_;
    std::mt19937_64 auth_;
    std::mt19937_64 files_;
};

// The weights and the choices, one line each, for --help.
std::string Chaos_Describe();

} // namespace tollan::peer
