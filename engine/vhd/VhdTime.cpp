#include "VhdTime.h"

#include <cstring>
#include <string>

#include "ByteBuffer.h"
#include "ByteOrder.h"
#include "Clock.h"
#include "PlatformFile.h"
#include "TextConvert.h"

namespace qvt {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSeconds1601To2000 = 12591158400;
// Virtual PC subtracts the 1601-to-2000 span less nine hours, so that the
// stamp of a child made at UTC+9 counts from 2000-01-01 UTC.
constexpr std::int64_t kParentStampBase = 12591126000;

bool WideName(const char* path, std::wstring* out) {
  std::uint8_t storage[2 * kPathBufferSize];
  ByteBuffer wide;
  BufferInit(&wide, storage, sizeof storage);
  const TextView in = MakeView(path, static_cast<std::uint32_t>(std::strlen(path)));
  if (!TextConvertAppend(&wide, ENC_UTF16LE, in, ENC_SHIFT_JIS)) return false;
  out->clear();
  for (std::uint32_t i = 0; i + 1 < wide.length; i += 2) {
    out->push_back(static_cast<wchar_t>(ReadLE16(storage + i)));
  }
  return true;
}

}  // namespace

std::uint32_t VhdFooterTimeNow() {
  const std::uint64_t now = platform::CurrentFileTime();
  const auto zone = static_cast<std::int64_t>(now - platform::LocalFileTimeToFileTime(now)) /
                    static_cast<std::int64_t>(kTicksPerSecond);
  const std::int64_t seconds = static_cast<std::int64_t>(now / kTicksPerSecond) -
                               kSeconds1601To2000 + zone;
  return static_cast<std::uint32_t>(seconds);
}

bool VhdParentTimeStamp(const char* parentPath, std::uint32_t* stamp) {
  std::wstring name;
  std::uint64_t written = 0;
  if (!WideName(parentPath, &name) || !platform::FileLastWriteTime(name, &written)) return false;
  const std::uint64_t utc = platform::LocalFileTimeToFileTime(written);
  *stamp = static_cast<std::uint32_t>(static_cast<std::int64_t>(utc / kTicksPerSecond) -
                                      kParentStampBase);
  return true;
}

}  // namespace qvt
