// The CP932 tables behind Cp932ToUnicode and UnicodeToCp932 are built once
// from the system's own converter, asked character by character. Each system
// supplies only that converter; the walk over every code, the holes CP932
// leaves and the round-trip rule are shared here.
#ifndef QVT_PLATFORM_CP932TABLES_H
#define QVT_PLATFORM_CP932TABLES_H

#include <cstddef>
#include <cstdint>

namespace qvt::platform {

struct Cp932Converter {
  void* context;
  // `length` (1 or 2) bytes to exactly one UTF-16 unit; false otherwise.
  bool (*decode)(void* context, const unsigned char* bytes, std::size_t length, char16_t* unit);
  // One unit to 1 or 2 bytes (their count in *length), with no look-alike
  // (best-fit) substitute; false when the code page lacks the character.
  bool (*encode)(void* context, char16_t unit, unsigned char out[2], std::size_t* length);
};

using Cp932Fill = void (*)(const Cp932Converter& converter, void* state);

// Implemented per system: runs `fill` with the system's converter and says
// true, or says false (and runs nothing) when the system lacks CP932.
bool WithSystemCp932Converter(Cp932Fill fill, void* state);

}  // namespace qvt::platform

#endif
