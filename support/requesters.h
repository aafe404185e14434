#pragma once
// Who asks the terminal for something: a workstation connection 1..32, the console of the main
// window, or the scheduled jobs. Markers and dialogues name their waiters by these numbers.

namespace tollan {

inline constexpr int kRequesterConsole = -9;
// The scheduled jobs' own work with the card centre (the file, pending cancellations): nobody
// hears its progress, and it does not end for want of a listener.
inline constexpr int kRequesterScheduled = -10;

} // namespace tollan
