// Shift_JIS and EUC-JP into each other, one character at a time, by the JIS
// X 0208 row and cell that both encode. No tables: the two are arithmetic
// rearrangements of the same 94 x 94 grid.
#ifndef QVT_ENGINE_JISROWCELL_H
#define QVT_ENGINE_JISROWCELL_H

#include <cstdint>

namespace qvt::text {

// True for a byte that starts a Shift_JIS double-byte character (0x81-0x9F,
// 0xE0-0xFC), and for one that can follow it (0x40-0x7E, 0x80-0xFC).
bool IsShiftJisLead(std::uint8_t b);
bool IsShiftJisTrail(std::uint8_t b);

// One Shift_JIS character (`length` bytes, 1 or 2) into EUC-JP; the byte count
// written, or 0 when it is malformed or has no EUC-JP form (rows beyond 94:
// the user-defined area F0-F9 and the IBM extensions FA-FC).
std::uint32_t ShiftJisToEuc(const std::uint8_t* p, std::uint32_t length, std::uint8_t out[4]);

// One EUC-JP character (`length` bytes, 1 to 3) into Shift_JIS; the byte
// count written, or 0 when it is malformed or has no Shift_JIS form (the
// three-byte JIS X 0212 characters behind 0x8F).
std::uint32_t EucToShiftJis(const std::uint8_t* p, std::uint32_t length, std::uint8_t out[4]);

// True when the EUC-JP character is well formed (right byte ranges for its
// lead byte), whether or not Shift_JIS can hold it.
bool IsWellFormedEuc(const std::uint8_t* p, std::uint32_t length);

}  // namespace qvt::text

#endif
