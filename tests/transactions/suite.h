#pragma once
// What the tests of transactions/ include, once.
#include "protocol/response_text.h"
#include "support/config.h"
#include "support/home.h"
#include "tests/common/test_home.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;
