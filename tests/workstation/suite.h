#pragma once
// What the tests of workstation/ include, once.
#include "support/clock.h"
#include "tests/common/register.h"
#include "tests/common/tasks.h"
#include "workstation/dispatch.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

using namespace tollan;
