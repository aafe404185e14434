#include "support/visuals.h"

#include "support/text.h"

#include <QObject>
#include <QPointer>

#include <string>
#include <vector>

namespace tollan {

namespace {

struct Entry {
    std::string name;
    int kind = 0;
    QPointer<QObject> element;
    bool inUse = false;
};

// Entries numbered from 1; entry 0 is never used. The list starts with one free entry.
std::vector<Entry>& Entries()
{
    static std::vector<Entry> entries(2);
    return entries;
}

// An entry whose element has been destroyed is free again: a closed window is never reached.
bool Live(const Entry& e) { return e.inUse && !e.element.isNull(); }

} // namespace

int Visual_Find(std::string_view name)
{
    auto& entries = Entries();
    for (int i = static_cast<int>(entries.size()) - 1; i >= 1; --i)
        if (Live(entries[static_cast<std::size_t>(i)]) && Text_Equal(entries[static_cast<std::size_t>(i)].name, name)) return i;
    return -1;
}

int Visual_Register(QObject* element, int kind, std::string_view name)
{
    if (!element || Visual_Find(name) != -1) return -1;
    auto& entries = Entries();
    int free = -1;
    for (int i = static_cast<int>(entries.size()) - 1; i >= 1 && free == -1; --i)
        if (!Live(entries[static_cast<std::size_t>(i)])) free = i;
    if (free == -1) {
        entries.emplace_back();
        free = static_cast<int>(entries.size()) - 1;
    }
    entries[static_cast<std::size_t>(free)] = {Str_Trim(name), kind, element, true};
    return free;
}

QObject* Visual_Element(int index)
{
    auto& entries = Entries();
    if (index < 1 || index >= static_cast<int>(entries.size())) return nullptr;
    return entries[static_cast<std::size_t>(index)].element.data();
}

int Visual_Kind(int index)
{
    auto& entries = Entries();
    if (index < 1 || index >= static_cast<int>(entries.size())) return 0;
    return entries[static_cast<std::size_t>(index)].kind;
}

void Visual_Clear() { Entries().assign(2, Entry{}); }

} // namespace tollan
