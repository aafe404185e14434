#pragma once
// A test's own home folder: the settings, the database and the logs live in it, the settings store
// reads it afresh at its next use, the error ring starts empty, and a fresh card key is in force.
#include "support/carddata.h"
#include "support/config.h"
#include "support/errors.h"
#include "support/home.h"

#include <QString>

namespace tollan::test {

inline void UseTestHome(const QString& path)
{
    Home_Set(path);
    Cfg_SetRoot(kCfgRoot);
    Err_Clear();
    CardKey_Use({CardKey_New({})});
}

} // namespace tollan::test
