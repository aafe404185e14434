#pragma once
// What the tests of shell/ include, once.
#include "store/admin_log.h"
#include "support/wait.h"
#include "tests/common/register.h"
#include "tests/shell/window.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace tollan::test;
using namespace tollan;
