#pragma once
// What the tests of timora/ include, once.
#include "timora/timora.h"

#include <gtest/gtest.h>
