#include "support/marker.h"

#include "support/wait.h"

#include <algorithm>

namespace tollan {
namespace {

std::vector<Marker*>& Markers()
{
    static std::vector<Marker*> all;
    return all;
}

} // namespace

void MarkerHold::release()
{
    if (m_)
        std::exchange(m_, nullptr)->letGo();
}

Marker::Marker(std::string name) : name_(std::move(name)) { Markers().push_back(this); }

Marker::~Marker() { Markers().erase(std::remove(Markers().begin(), Markers().end(), this), Markers().end()); }

Task<MarkerHold> Marker::take(int who)
{
    const std::uint64_t ticket = nextTicket_++;
    queue_.emplace_back(ticket, who);
    co_await Wait_Until([this, ticket] { return !held_ && queue_.front().first == ticket; }, -1);
    const auto mine = std::find_if(queue_.begin(), queue_.end(), [ticket](const auto& q) { return q.first == ticket; });
    const bool granted = !held_ && mine == queue_.begin();
    queue_.erase(mine);
    if (!granted) {   // the program stops: whoever was behind looks again
        Wait_Notify();
        co_return MarkerHold();
    }
    held_ = true;
    co_return MarkerHold(this);
}

void Marker::letGo()
{
    held_ = false;
    Wait_Notify();
}

std::vector<int> Marker::waiting() const
{
    std::vector<int> who;
    for (const auto& [ticket, w] : queue_)
        who.push_back(w);
    return who;
}

std::vector<int> Marker_AllWaiting()
{
    std::vector<int> who;
    for (const Marker* m : Markers())
        for (int w : m->waiting())
            who.push_back(w);
    return who;
}

} // namespace tollan
