#pragma once
// What the tests of e2e/ include, once.
#include "tests/common/shop.h"
#include "tests/common/tls_files.h"

#include <QDate>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <unistd.h>

using namespace tollan::test;
