#include "InstanceName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qvt::InstanceMutexName;
using qvt::kMaxInstanceNameLength;

struct NameCase {
  const wchar_t* path;
  const wchar_t* name;
};

class InstanceMutexNameShortPaths : public testing::TestWithParam<NameCase> {};

TEST_P(InstanceMutexNameShortPaths, TurnEveryBackslashIntoAnUnderscore) {
  EXPECT_EQ(InstanceMutexName(GetParam().path), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, InstanceMutexNameShortPaths,
    testing::Values(NameCase{L"C:\\Tools\\QVT\\QVT.exe", L"C:_Tools_QVT_QVT.exe"},
                    NameCase{L"\\\\server\\share\\QVT.exe", L"__server_share_QVT.exe"},
                    NameCase{L"QVT.exe", L"QVT.exe"},
                    NameCase{L"C:\\Tools\\QVT_\\QVT.exe", L"C:_Tools_QVT__QVT.exe"},
                    // Kanji whose Shift_JIS trail byte is 0x5C stay whole.
                    NameCase{L"C:\\仮想\\ソ表\\QVT.exe", L"C:_仮想_ソ表_QVT.exe"}));

TEST(InstanceMutexName, DiffersForCopiesAtDifferentPaths) {
  EXPECT_NE(InstanceMutexName(L"C:\\A\\QVT.exe"), InstanceMutexName(L"C:\\B\\QVT.exe"));
  EXPECT_NE(InstanceMutexName(L"C:\\ソ\\QVT.exe"), InstanceMutexName(L"C:\\ゾ\\QVT.exe"));
}

std::wstring PathOfLength(std::size_t length, wchar_t last) {
  std::wstring path = L"C:\\";
  while (path.size() + 1 < length) path += (path.size() % 10 == 0) ? L'\\' : L'x';
  path += last;
  return path;
}

TEST(InstanceMutexName, KeepsAPathThatFitsWhole) {
  const std::wstring path = PathOfLength(kMaxInstanceNameLength, L'e');
  const std::wstring name = InstanceMutexName(path);
  EXPECT_EQ(name.size(), kMaxInstanceNameLength);
  EXPECT_EQ(name.find(L'\\'), std::wstring::npos);
  EXPECT_EQ(name.back(), L'e');
}

TEST(InstanceMutexName, CutsALongPathToTheLimitAndKeepsItDistinct) {
  const std::wstring a = PathOfLength(kMaxInstanceNameLength + 1, L'a');
  const std::wstring b = PathOfLength(kMaxInstanceNameLength + 1, L'b');
  const std::wstring nameA = InstanceMutexName(a);
  const std::wstring nameB = InstanceMutexName(b);

  EXPECT_EQ(nameA.size(), kMaxInstanceNameLength);
  EXPECT_EQ(nameB.size(), kMaxInstanceNameLength);
  EXPECT_NE(nameA, nameB);
  EXPECT_EQ(nameA, InstanceMutexName(a)) << "the same path must always give the same name";
  EXPECT_EQ(nameA.substr(0, 12), L"C:_xxxxxxx_x");
  EXPECT_EQ(nameA.find(L'\\'), std::wstring::npos);
}

TEST(InstanceMutexName, CutsAVeryLongPath) {
  const std::wstring path = PathOfLength(32000, L'z');
  EXPECT_EQ(InstanceMutexName(path).size(), kMaxInstanceNameLength);
}

}  // namespace
