#pragma once
// What the tests of links/ include, once.
#include "links/tcp.h"
#include "store/db.h"
#include "support/clock.h"
#include "support/codepage.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"
#include "tests/common/tasks.h"
#include "tests/common/test_home.h"
#include "tests/peers/peer_process.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tollan;
using tollan::test::UseTestHome;
