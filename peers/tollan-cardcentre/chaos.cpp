#include "peers/tollan-cardcentre/chaos.h"

#include "support/text.h"

#include <algorithm>
#include <iterator>

namespace tollan::peer {
namespace {

using Rng = std::mt19937_64;

// A number in 0..n-1. The modulo of the generator's own output, unlike the standard
// distributions, draws the same on every standard library.
int Below(Rng& rng, int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); }

template <class T, std::size_t N>
const T& Pick(Rng& rng, const T (&list)[N])
{
    return list[Below(rng, static_cast<int>(N))];
}

const char* const kNumericCodes[] = {"05", "12", "14", "51", "54", "57", "61", "91"};
const char* const kAlphanumericCodes[] = {"N7", "0A", "Q1", "Y3", "Z1", "  "};

template <std::size_t N>
std::string CodeList(const char* const (&codes)[N])
{
    std::string out;
    for (const char* c : codes)
        out += (out.empty() ? "" : " ") + Url_Encode(c, 3);
    return out;
}

// What a request gets when it is not simply approved; each fault alone, its weight out of 100.
struct Fault {
    const char* name;
    int weight;
    std::string meaning;
    void (*apply)(Behaviour& b, Rng& rng, const ChaosOptions& o);
};
const Fault kFaults[] = {
    {"decline", 20, "declined with one of " + CodeList(kNumericCodes),
     [](Behaviour& b, Rng& rng, const ChaosOptions&) {
         b.verdict = Behaviour::Decline;
         b.code = Pick(rng, kNumericCodes);
     }},
    {"decline-alphanumeric", 10, "declined with one of " + CodeList(kAlphanumericCodes),
     [](Behaviour& b, Rng& rng, const ChaosOptions&) {
         b.verdict = Behaviour::Decline;
         b.code = Pick(rng, kAlphanumericCodes);
     }},
    {"silent", 8, "never answered",
     [](Behaviour& b, Rng&, const ChaosOptions&) { b.verdict = Behaviour::Silent; }},
    {"late", 14, "approved --chaos-late ms late (the repeat comes meanwhile)",
     [](Behaviour& b, Rng&, const ChaosOptions& o) { b.delayMs = o.lateMs; }},
    {"hangup", 12, "approved, the line closed with the answer",
     [](Behaviour& b, Rng&, const ChaosOptions&) { b.hangup = true; }},
    {"trailing", 12, "approved, CR LF after the frame (and junk, one in two)",
     [](Behaviour& b, Rng& rng, const ChaosOptions&) {
         b.trailing = Below(rng, 2) ? kTrailingJunk : kTrailingCrLf;
     }},
    {"close", 8, "the line closed without an answer",
     [](Behaviour& b, Rng&, const ChaosOptions&) { b.verdict = Behaviour::Close; }},
    {"noise", 10, "approved, noise before the SOH",
     [](Behaviour& b, Rng&, const ChaosOptions&) { b.noise = true; }},
    {"no-code", 6, "approved without element 39",
     [](Behaviour& b, Rng&, const ChaosOptions&) { b.noCode = true; }},
};

// Files: a file abandoned in ten; a line NAKed one to three times in ten; a file refused in four.
constexpr int kAbandonPercent = 10;
constexpr int kAbandonWithin = 6;   // the abandoned line is one of the first six
constexpr int kNakPercent = 10;
constexpr int kRefusePercent = 25;

} // namespace

Chaos::Chaos(const ChaosOptions& o) : o_(o), auth_(o.seed), files_(o.seed ^ 0x9E3779B97F4A7C15ULL) {}

Behaviour Chaos::Authorisation(std::string& choice)
{
    Behaviour b;
    b.authCode = o_.authCode;
    if (b.authCode.empty()) {
        // A code of its own for every approval tells which answer the terminal kept.
        static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
        for (int i = 0; i < 6; ++i)
            b.authCode += kAlphabet[Below(auth_, 36)];
    }
    choice = "approve";
    if (Below(auth_, 100) >= o_.faultsPercent)
        return b;
    int roll = Below(auth_, 100);
    for (const Fault& f : kFaults) {
        if (roll < f.weight) {
            choice = f.name;
            f.apply(b, auth_, o_);
            break;
        }
        roll -= f.weight;
    }
    return b;
}

int Chaos::FileAbandonLine()
{
    return Below(files_, 100) < kAbandonPercent ? 1 + Below(files_, kAbandonWithin) : 0;
}

int Chaos::LineNaks(bool abandon)
{
    if (abandon)
        return 4;
    return Below(files_, 100) < kNakPercent ? 1 + Below(files_, 3) : 0;
}

int Chaos::VerdictStatus() { return Below(files_, 100) < kRefusePercent ? 0 : 1; }

std::string Chaos_Describe()
{
    auto row = [](std::string name, const std::string& weight, const std::string& meaning) {
        name.resize(22, ' ');
        return "  " + name + std::string(6 - std::min<std::size_t>(6, weight.size()), ' ') + weight + "  " +
               meaning + "\n";
    };
    std::string out = row("choice", "weight", "what the request gets");
    out += row("approve", "--", "approved, with a code of its own unless --auth-code");
    for (const Fault& f : kFaults)
        out += row(f.name, std::to_string(f.weight), f.meaning);
    out += "Each transaction file: abandoned " + std::to_string(kAbandonPercent) +
           " in 100 (one of its first " + std::to_string(kAbandonWithin) +
           " lines NAKed four times);\neach other line NAKed 1 to 3 times " + std::to_string(kNakPercent) +
           " in 100; the verdict refuses (status 0)\n" + std::to_string(kRefusePercent) +
           " in 100, else accepts (status 1).\n";
    return out;
}

} // namespace tollan::peer
