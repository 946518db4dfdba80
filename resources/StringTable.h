// Portable access to the program's string table (strings.def), with the same
// ids and texts as the STRINGTABLE resource of QVT.exe.
#ifndef QVT_RESOURCES_STRINGTABLE_H
#define QVT_RESOURCES_STRINGTABLE_H

#include <cstddef>

namespace qvt {

enum StringId : int {
#define QVT_STRING(id, symbol, text) symbol = id,
#include "strings.def"
#undef QVT_STRING
};

struct StringEntry {
  int id;
  const char* text;  // UTF-8
};

// The text of a string id in UTF-8, or nullptr when the table has no such id.
const char* StringText(int id);

// Every entry, in ascending id order.
const StringEntry* StringTableBegin();
const StringEntry* StringTableEnd();

}  // namespace qvt

#endif
