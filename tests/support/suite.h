#pragma once
// What the tests of support/ include, once.
#include "support/clock.h"
#include "support/errors.h"
#include "support/home.h"
#include "support/msgbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tollan;
