#pragma once
// What the tests of dialogues/ include, once.
#include "dialogues/merchant.h"
#include "support/clock.h"
#include "support/config.h"
#include "support/errors.h"
#include "tests/common/records.h"
#include "tests/common/test_home.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;
