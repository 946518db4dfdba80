#include "TextLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace qvt {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  std::string line;
  while (ReadTextLine(in, &line)) lines.push_back(line);
  return lines;
}

TEST(ReadTextLine, SplitsAtLineFeedsAndDropsOneCarriageReturn) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Lines("a\nb\r\nc"), (V{"a", "b", "c"}));
  EXPECT_EQ(Lines("a\r\r\n"), (V{"a\r"}));
  EXPECT_EQ(Lines("\n\n"), (V{"", ""}));
  EXPECT_EQ(Lines(""), V{});
  EXPECT_EQ(Lines("x = \"\x83\x5C\"\r\n"), (V{"x = \"\x83\x5C\""}));
}

}  // namespace
}  // namespace qvt
