// Globally unique identifiers.
#ifndef QVT_PLATFORM_GUID_H
#define QVT_PLATFORM_GUID_H

#include <cstdint>

namespace qvt::platform {

// A new random GUID in its 16-byte form (Win32: CoCreateGuid, stored as the
// GUID structure's bytes; POSIX: a version-4 UUID from the system's random
// source). False when no random source answers.
bool CreateGuid(std::uint8_t out[16]);

}  // namespace qvt::platform

#endif
