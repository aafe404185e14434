#pragma once
// A benchmark drives the terminal's coroutines as the program does: the event loop runs until the
// task ends.
#include "support/task.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace tollan::bench {

template <class T>
T Await(Task<T> task)
{
    while (!task.done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if constexpr (!std::is_void_v<T>)
        return task.result();
}

} // namespace tollan::bench
