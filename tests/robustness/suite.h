#pragma once
// What the tests of robustness/ include, once.
#include "tests/common/shop.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <random>
#include <set>

using namespace tollan::test;
