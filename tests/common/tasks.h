#pragma once
// A test drives a request's coroutine as the program does: started, then the event loop runs
// (on the test clock) until it ends.
#include "support/clock.h"
#include "support/task.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace tollan::test {

// Runs the event loop until `task` ends, at most `ms` on the clock; its result.
template <class T>
T Finish(Task<T> task, std::int64_t ms = 3600000)
{
    const bool ended = Clock_WaitUntil([&task] { return task.done(); }, ms);
    EXPECT_TRUE(ended) << "the task did not end; waits under way: " << Wait_Pending();
    if constexpr (!std::is_void_v<T>) {
        if (!ended)
            return T{};
        return task.result();
    }
}

} // namespace tollan::test
