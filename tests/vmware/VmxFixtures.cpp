#include "VmxFixtures.h"

#include <stdexcept>

namespace qvt::test {

std::string FixtureBytes(const std::string& name) {
  for (std::size_t i = 0; i < kEmbeddedFixtureCount; ++i) {
    const EmbeddedFixture& f = kEmbeddedFixtures[i];
    if (name == f.name) return std::string(reinterpret_cast<const char*>(f.data), f.size);
  }
  throw std::out_of_range("no test configuration named " + name);
}

}  // namespace qvt::test
