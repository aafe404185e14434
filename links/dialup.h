#pragma once
// How the TCP links use a dial-up connection when "UseRAS" is set: they count themselves in and out,
// note their traffic, and the scheduler's tick hangs the connection up once it has been idle for
// "RAS\KeepActive" seconds. Every operation does nothing while "UseRAS" is 0.
//
// The line is looked at, dialled and hung up by one task at a time: a link that connects while
// another dials awaits that dial and uses its outcome, so several registers' requests dial once.

#include "support/task.h"

namespace tollan {

// At the start of every Tcp_Connect: dials (through the dial-up manager) when this is the first
// link. Counts the link in on every way out, a failed dial and a stopping program among them.
Task<void> DialUse_Acquire();
// When a connect fails, and when a connected or closing socket is closed. Never hangs up by itself.
void DialUse_Release();
// After every send, every receive on a connected socket, and at the end of DialUse_Acquire.
void DialUse_Touch();
// Notices a dial-up connection that has dropped: the counts go back to 0 (within DialUse_Acquire).
Task<void> DialUse_Check();
// At every tick of the scheduler: once the idle time has passed, the hang-up is posted to the event
// loop. Never asks the dial-up service anything.
void DialUse_IdleCheck();

// The links' count of users (tests and the main window's state).
int DialUse_Users();
// Back to the start state, without touching the dial-up service (tests).
void DialUse_Reset();

} // namespace tollan
