// LVM2 physical volumes for the reader's tests: metadata text in the shape
// lvm2 2.03 writes it, and a PV laid out byte by byte as pvcreate lays it
// out, for the cases the tools will not make (and for Windows runs, where
// the tools are out of reach).
#ifndef QVT_TESTS_FSMAP_LVM2TESTKIT_H
#define QVT_TESTS_FSMAP_LVM2TESTKIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "FsmapTestKit.h"
#include "Lvm2Label.h"

namespace qvt::test {

// The identifier of the synthetic PV, in label form and text form.
extern const char kPvId[];
extern const char kPvIdText[];

struct TestLv {
  std::string name;
  std::uint32_t extents;
  std::uint32_t firstExtent;
};

// A volume group "vg" with physical volume "pv0" of kPvIdText, in lvm2's
// own layout (comment lines, tabs before trailing comments, LF line ends).
std::string Lvm2Text(const std::vector<TestLv>& lvs, std::uint32_t extentSize = 8192,
                     std::uint32_t peStart = 2048, std::uint32_t peCount = 15,
                     std::uint32_t devSize = 131072);

// The label and area positions of a synthetic PV.
struct SyntheticPv {
  std::uint32_t labelSector = 1;
  std::uint64_t labelSectorField = 1;
  std::uint64_t deviceSize = 64u << 20;
  std::uint64_t metadataOffset = 4096;
  std::uint64_t metadataSize = 1044480;
  std::uint64_t rawOffset = 512;
  std::uint64_t rawSize = 0;  // 0: the text's length plus its NUL
  std::string text;
};

// Writes the PV at `firstSector` of the disk (LVM2 CRCs filled in).
void WriteSyntheticPv(RawDisk* disk, std::uint32_t firstSector, const SyntheticPv& pv);

// Reads the PV at `firstSector` the way volume discovery does: a counting
// pass, then a filling pass. The records as (first, count, type).
DiskResult ReadPv(ImageHandle* image, std::uint32_t firstSector, std::vector<FoundVolume>* found);

}  // namespace qvt::test

#endif
