#include "StringTable.h"

#include <algorithm>
#include <iterator>

namespace qvt {
namespace {

constexpr StringEntry kEntries[] = {
#define QVT_STRING(id, symbol, text) {id, text},
#include "strings.def"
#undef QVT_STRING
};

constexpr bool IdsAscending() {
  for (std::size_t i = 1; i < std::size(kEntries); ++i) {
    if (kEntries[i - 1].id >= kEntries[i].id) return false;
  }
  return true;
}
// Lookups are binary searches; strings.def must stay sorted by id, without
// repeats (a repeated id would also break the resource build).
static_assert(IdsAscending(), "strings.def must list ids in ascending order");

}  // namespace

const char* StringText(int id) {
  const StringEntry* end = std::end(kEntries);
  const StringEntry* hit = std::lower_bound(
      std::begin(kEntries), end, id,
      [](const StringEntry& e, int wanted) { return e.id < wanted; });
  return (hit != end && hit->id == id) ? hit->text : nullptr;
}

const StringEntry* StringTableBegin() { return std::begin(kEntries); }
const StringEntry* StringTableEnd() { return std::end(kEntries); }

}  // namespace qvt
