#include "SettingsSchema.h"

#include <cstdio>

namespace schema {

namespace {

// Room for a name format's text with any int in it.
constexpr std::size_t kNameRoom = 64;

std::string Numbered(const char* format, int index)
{
    if (format == nullptr || *format == '\0')
        throw std::logic_error("the settings table names no such entries or leaves");
    char name[kNameRoom];
    std::snprintf(name, sizeof name, format, index);
    return name;
}

}  // namespace

std::string NodeKey::EntryName(int index) const { return Numbered(entryNames, index); }

std::string NodeKey::LeafName(int index) const { return Numbered(leafNames, index); }

}  // namespace schema
