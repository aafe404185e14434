#pragma once
// Named visual elements: library code finds a window's components by name without knowing the
// window (the error reports look for "ERRORSHOW"). Entries are numbered from 1 and never removed;
// names compare trimmed and without regard to case.

#include <string_view>

class QObject;

namespace tollan {

// The entry index (1 or more), or -1 when the name is already registered.
int Visual_Register(QObject* element, int kind, std::string_view name);
// The index of the in-use entry with that name, or -1. An element that has been destroyed frees its
// entry, so a closed window's components are never reached.
int Visual_Find(std::string_view name);
QObject* Visual_Element(int index);
int Visual_Kind(int index);
// Forgets every entry (tests).
void Visual_Clear();

} // namespace tollan
