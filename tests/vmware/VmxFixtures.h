// The configuration files of tests/vmware/data, built into the test program.
#ifndef QVT_TESTS_VMWARE_VMXFIXTURES_H
#define QVT_TESTS_VMWARE_VMXFIXTURES_H

#include <cstddef>
#include <string>

namespace qvt::test {

struct EmbeddedFixture {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};

// Filled by VmxFixtureData.cpp, which VmxEmbedFixtures.cmake writes.
extern const EmbeddedFixture kEmbeddedFixtures[];
extern const std::size_t kEmbeddedFixtureCount;

// The bytes of data/<name>; throws std::out_of_range for a name not there.
std::string FixtureBytes(const std::string& name);

}  // namespace qvt::test

#endif
