// GUIDs from CoCreateGuid (no COM initialisation needed for it).
#include "Guid.h"

#include <cstring>
#include <objbase.h>
#include <windows.h>

namespace qvt::platform {

// The structure's bytes as they lie in memory: Data1, Data2 and Data3
// little-endian, then Data4.
bool CreateGuid(std::uint8_t out[16]) {
  static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return false;
  std::memcpy(out, &guid, sizeof guid);
  return true;
}

}  // namespace qvt::platform
