#pragma once
// What the tests of receipts/ include, once.
#include "receipts/template.h"
#include "support/clock.h"
#include "support/text.h"

#include <gtest/gtest.h>

using namespace tollan;
