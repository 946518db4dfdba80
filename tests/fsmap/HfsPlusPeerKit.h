// sleuthkit as the independent reader of HFS Plus volumes for the generator
// and the reader's tests (fsstat, fls, icat, blkls). Debian's hfsplus tools
// (hpmount, hpcopy, hpfsck) cannot serve: on this platform they take the
// volume's size as 0, look for the alternate header in the wrong place and
// refuse every image, loop devices included, and they predate HFSX.
#ifndef QVT_TESTS_FSMAP_HFSPLUSPEERKIT_H
#define QVT_TESTS_FSMAP_HFSPLUSPEERKIT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qvt::test {

bool HaveSleuthkit();

// Every regular file sleuthkit finds, by path ("docs/file11.bin"), with its
// bytes read by icat; "" on success, else the log.
std::string SleuthkitFiles(const std::string& volume, std::map<std::string, std::vector<std::uint8_t>>* files);

// sleuthkit's allocation of each block of the volume (true = allocated);
// empty when blkls fails.
std::vector<bool> SleuthkitBlocks(const std::string& volume, std::uint32_t blocks);

}  // namespace qvt::test

#endif
