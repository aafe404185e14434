#pragma once
// The console of the main window as a requester (-9): the operator's own purchase and cancellation
// run as a register's do, and what their flows send it (messages, prompts, print requests, the
// answer) comes to the window.

#include "workstation/requester.h"

#include <memory>

namespace tollan {

class fMain;

std::shared_ptr<Requester> Console_Requester(fMain& window);

} // namespace tollan
