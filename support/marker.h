#pragma once
// What must stay one at a time (the X.25 line, the transaction file's turn) is held by a marker:
// whoever wants it co_awaits take(), and gets it in the order of asking; the hold lets go on every
// way out of its scope. Whoever waits is known by its requester's number, so that the workstation
// service can send it busy notices meanwhile.

#include "support/task.h"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace tollan {

class Marker;

// A marker held; empty when it was not had (the program stops). Lets go when it goes.
class MarkerHold {
public:
    MarkerHold() = default;
    explicit MarkerHold(Marker* m) : m_(m) {}
    MarkerHold(MarkerHold&& o) noexcept : m_(std::exchange(o.m_, nullptr)) {}
    MarkerHold& operator=(MarkerHold&& o) noexcept
    {
        if (this != &o) {
            release();
            m_ = std::exchange(o.m_, nullptr);
        }
        return *this;
    }
    ~MarkerHold() { release(); }
    explicit operator bool() const { return m_ != nullptr; }
    void release();

private:
    Marker* m_ = nullptr;
};

class Marker {
public:
    explicit Marker(std::string name);
    ~Marker();
    Marker(const Marker&) = delete;
    Marker& operator=(const Marker&) = delete;

    // The marker, once everyone who asked before has had it and let it go. `who` is the requester
    // that waits (a workstation connection 1..32, the console -9, the scheduled jobs -10).
    Task<MarkerHold> take(int who);
    bool held() const { return held_; }
    const std::string& name() const { return name_; }
    // Who waits for it now, first asked first.
    std::vector<int> waiting() const;

private:
    friend class MarkerHold;
    void letGo();
    std::string name_;
    bool held_ = false;
    std::uint64_t nextTicket_ = 1;
    std::deque<std::pair<std::uint64_t, int>> queue_;   // ticket, who
};

// Everyone any marker keeps waiting (the busy notices go to them).
std::vector<int> Marker_AllWaiting();

} // namespace tollan
