#include "JisRowCell.h"

namespace qvt::text {

namespace {

constexpr std::uint32_t kRows = 94;  // rows and cells of JIS X 0208 run 1..94

bool IsHalfWidthKatakana(std::uint8_t b) { return b >= 0xA1 && b <= 0xDF; }
bool IsEucByte(std::uint8_t b) { return b >= 0xA1 && b <= 0xFE; }

// A Shift_JIS lead byte covers two rows: 0x81-0x9F rows 1-62, 0xE0-0xEF rows
// 63-94, 0xF0-0xFC rows 95-120 (not in JIS X 0208). The trail byte picks the
// odd row (0x40-0x9E, skipping 0x7F) or the even one (0x9F-0xFC).
bool ShiftJisRowCell(std::uint8_t lead, std::uint8_t trail, std::uint32_t* row,
                     std::uint32_t* cell) {
  if (!IsShiftJisLead(lead) || !IsShiftJisTrail(trail)) return false;
  const std::uint32_t pair = lead <= 0x9F ? lead - 0x80u : lead - 0xC0u;  // 1-based
  if (trail >= 0x9F) {
    *row = pair * 2;
    *cell = trail - 0x9Eu;
  } else {
    *row = pair * 2 - 1;
    *cell = trail < 0x7F ? trail - 0x3Fu : trail - 0x40u;
  }
  return *row <= kRows;
}

}  // namespace

bool IsShiftJisLead(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsShiftJisTrail(std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

std::uint32_t ShiftJisToEuc(const std::uint8_t* p, std::uint32_t length, std::uint8_t out[4]) {
  if (length == 1) {
    if (p[0] < 0x80) {
      out[0] = p[0];
      return 1;
    }
    if (!IsHalfWidthKatakana(p[0])) return 0;
    out[0] = 0x8E;
    out[1] = p[0];
    return 2;
  }
  std::uint32_t row = 0;
  std::uint32_t cell = 0;
  if (length != 2 || !ShiftJisRowCell(p[0], p[1], &row, &cell)) return 0;
  out[0] = static_cast<std::uint8_t>(0xA0 + row);
  out[1] = static_cast<std::uint8_t>(0xA0 + cell);
  return 2;
}

std::uint32_t EucToShiftJis(const std::uint8_t* p, std::uint32_t length, std::uint8_t out[4]) {
  if (length == 1) {
    if (p[0] >= 0x80) return 0;
    out[0] = p[0];
    return 1;
  }
  if (length != 2) return 0;  // 0x8F: JIS X 0212 has no Shift_JIS form
  if (p[0] == 0x8E) {
    if (!IsHalfWidthKatakana(p[1])) return 0;
    out[0] = p[1];
    return 1;
  }
  if (!IsEucByte(p[0]) || !IsEucByte(p[1])) return 0;
  const std::uint32_t row = p[0] - 0xA0u;
  const std::uint32_t cell = p[1] - 0xA0u;
  const std::uint32_t pair = (row + 1) / 2;
  out[0] = static_cast<std::uint8_t>(pair + (row <= 62 ? 0x80 : 0xC0));
  if (row % 2 == 0) {
    out[1] = static_cast<std::uint8_t>(cell + 0x9E);
  } else {
    out[1] = static_cast<std::uint8_t>(cell + (cell < 64 ? 0x3F : 0x40));
  }
  return 2;
}

bool IsWellFormedEuc(const std::uint8_t* p, std::uint32_t length) {
  switch (length) {
    case 1: return p[0] < 0x80;
    case 2: return p[0] == 0x8E ? IsHalfWidthKatakana(p[1]) : IsEucByte(p[0]) && IsEucByte(p[1]);
    case 3: return p[0] == 0x8F && IsEucByte(p[1]) && IsEucByte(p[2]);
    default: return false;
  }
}

}  // namespace qvt::text
