// The main window's placement and its rebar layout as QVT.DAT keeps them:
// plain records with the fields of WINDOWPLACEMENT and of a band, which the
// Win32 main frame fills from the system and applies back.
#ifndef QVT_APP_WINDOWLAYOUT_H
#define QVT_APP_WINDOWLAYOUT_H

#include <cstdint>

namespace qvt {

struct PointRecord {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

struct RectRecord {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct WindowPlacementRecord {
  std::uint32_t length = 0;
  std::uint32_t flags = 0;
  std::uint32_t showCmd = 0;
  PointRecord ptMinPosition;
  PointRecord ptMaxPosition;
  RectRecord rcNormalPosition;
};

// One rebar band; a layout is the bands in the rebar's order.
struct BandRecord {
  std::uint32_t id = 0;
  std::uint32_t cx = 0;
  // The band starts a new row.
  bool newRow = false;
};

}  // namespace qvt

#endif
