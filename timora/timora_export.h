#pragma once
// libtimora exports only what its host may call; everything else stays inside the library.

#include <QtCore/qglobal.h>

#if defined(TIMORA_LIBRARY)
#define TIMORA_EXPORT Q_DECL_EXPORT
#else
#define TIMORA_EXPORT Q_DECL_IMPORT
#endif
