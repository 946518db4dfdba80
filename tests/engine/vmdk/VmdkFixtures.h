// Descriptor texts made by other programs, kept byte for byte in data/ and
// compiled into the test program by CMake.
#ifndef QVT_TESTS_ENGINE_VMDK_VMDKFIXTURES_H
#define QVT_TESTS_ENGINE_VMDK_VMDKFIXTURES_H

#include <cstddef>

namespace qvt::test {

struct Fixture {
  const char* name;
  const unsigned char* bytes;
  std::size_t size;
};

extern const Fixture kVmdkFixtures[];
extern const std::size_t kVmdkFixtureCount;

}  // namespace qvt::test

#endif
