// The portable half of the test support.
#include "PlatformTestSupport.h"

namespace qvt::platform::test {

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  NativeFile file;
  if (!FileCreate(path, &file)) return false;
  const bool ok = bytes.empty() ||
                  FileWriteAt(file, 0, static_cast<std::uint32_t>(bytes.size()), bytes.data());
  FileClose(&file);
  return ok;
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  NativeFile file;
  if (!FileOpen(path, FileAccess::kReadShared, &file)) return false;
  std::uint64_t size = 0;
  bool ok = FileGetSize(file, &size) && size < (1u << 30);
  if (ok) {
    bytes->assign(static_cast<std::size_t>(size), '\0');
    ok = size == 0 || FileReadAt(file, 0, static_cast<std::uint32_t>(size), &(*bytes)[0]);
  }
  FileClose(&file);
  return ok;
}

std::string Pattern(std::size_t length, unsigned seed) {
  std::string out(length, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (char& c : out) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return out;
}

std::wstring Units(std::initializer_list<unsigned> units) {
  std::wstring out;
  for (const unsigned u : units) out.push_back(static_cast<wchar_t>(u));
  return out;
}

void FolderTest::SetUp() { ASSERT_TRUE(MakeTempFolder(&folder_)) << "no temporary folder"; }

void FolderTest::TearDown() {
  if (!folder_.empty()) RemoveTree(folder_);
}

}  // namespace qvt::platform::test
