#pragma once
// What the tests of protocol/ include, once.

#include <algorithm>
#include <gtest/gtest.h>

using namespace tollan;
