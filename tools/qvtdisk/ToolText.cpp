#include "ToolText.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "ByteBuffer.h"
#include "PlatformFile.h"
#include "TextConvert.h"

namespace qvt::qvtdisk {
namespace {

std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (wchar_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
  }
  return bytes;
}

// Converts into a buffer of `capacity` bytes; false when it does not fit or
// convert.
bool Convert(TextView in, TextEncoding inEnc, TextEncoding outEnc, std::uint32_t capacity,
             std::string* out) {
  std::vector<std::uint8_t> storage(capacity);
  ByteBuffer buffer;
  BufferInit(&buffer, storage.data(), capacity);
  if (!TextConvertAppend(&buffer, outEnc, in, inEnc)) return false;
  out->assign(reinterpret_cast<const char*>(buffer.data), buffer.length);
  return true;
}

std::uint32_t Room(std::size_t bytes) { return static_cast<std::uint32_t>(bytes * 4 + 16); }

}  // namespace

bool EnginePathFromNative(const std::string& native, std::string* enginePath) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(std::filesystem::u8path(native), error);
  if (error) return false;
  path = path.lexically_normal().make_preferred();
  const std::wstring windows = platform::WindowsPathFromNative(path.u8string());
  const std::vector<std::uint8_t> wide = Utf16Bytes(windows);
  // The terminator must fit the engine's path buffer too.
  return Convert(MakeView(wide.data(), static_cast<std::uint32_t>(wide.size())), ENC_UTF16LE,
                 ENC_SHIFT_JIS, kPathBufferSize - 1, enginePath);
}

std::string NativeFromEngine(const char* enginePath) {
  const std::string sjis(enginePath);
  std::string wideBytes;
  if (!Convert(MakeView(sjis.data(), static_cast<std::uint32_t>(sjis.size())), ENC_SHIFT_JIS,
               ENC_UTF16LE, Room(sjis.size()), &wideBytes)) {
    return Utf8FromText(MakeView(sjis.data(), static_cast<std::uint32_t>(sjis.size())),
                        ENC_SHIFT_JIS);
  }
  std::wstring wide;
  for (std::size_t i = 0; i + 1 < wideBytes.size(); i += 2) {
    wide.push_back(static_cast<wchar_t>(static_cast<std::uint8_t>(wideBytes[i]) |
                                        (static_cast<std::uint8_t>(wideBytes[i + 1]) << 8)));
  }
  std::string native;
  if (platform::NativePathFromWindows(wide, &native)) return native;
  return Utf8FromText(MakeView(sjis.data(), static_cast<std::uint32_t>(sjis.size())),
                      ENC_SHIFT_JIS);
}

std::string Utf8FromText(TextView text, TextEncoding encoding) {
  std::string out;
  if (Convert(text, encoding, ENC_UTF8, Room(text.length), &out)) return out;
  // Character by character, so that one bad byte does not hide the rest.
  out.clear();
  for (std::uint32_t at = 0; at < text.length;) {
    std::uint32_t n = CharLength(encoding, text.data + at, text.length - at);
    std::string piece;
    if (n == 0 || !Convert(TextView{text.data + at, n}, encoding, ENC_UTF8, 16, &piece)) {
      piece = "?";
      if (n == 0) n = 1;
    }
    out += piece;
    at += n;
  }
  return out;
}

bool ShiftJisFromUtf8(const std::string& text, std::string* shiftJis) {
  return Convert(MakeView(text.data(), static_cast<std::uint32_t>(text.size())), ENC_UTF8,
                 ENC_SHIFT_JIS, Room(text.size()), shiftJis);
}

std::string DiskResultText(DiskResult result) {
  const char* name = "unknown result";
  switch (result) {
    case DISK_OK: name = "DISK_OK"; break;
    case DISK_CANCELLED: name = "DISK_CANCELLED"; break;
    case DISK_E_OPEN: name = "DISK_E_OPEN"; break;
    case DISK_E_READ: name = "DISK_E_READ"; break;
    case DISK_E_WRITE: name = "DISK_E_WRITE"; break;
    case DISK_E_SIZE: name = "DISK_E_SIZE"; break;
    case DISK_E_NOMEM: name = "DISK_E_NOMEM"; break;
    case DISK_E_FORMAT: name = "DISK_E_FORMAT"; break;
    case DISK_E_LIMIT: name = "DISK_E_LIMIT"; break;
    case DISK_E_CREATE: name = "DISK_E_CREATE"; break;
    case DISK_E_VERSION: name = "DISK_E_VERSION"; break;
    case DISK_E_FS_UNKNOWN: name = "DISK_E_FS_UNKNOWN"; break;
    case DISK_E_FS_BITMAP: name = "DISK_E_FS_BITMAP"; break;
    case DISK_E_UNSUPPORTED: name = "DISK_E_UNSUPPORTED"; break;
    case DISK_E_GRAIN_WRITE: name = "DISK_E_GRAIN_WRITE"; break;
    default: break;
  }
  return std::string(name) + " (" + std::to_string(result) + ")";
}

ProgressBar::ProgressBar(Console& console, bool draw) : console_(console), draw_(draw) {}

ProgressBar::~ProgressBar() { Finish(); }

bool ProgressBar::Report(std::uint32_t done, std::uint32_t total, void* context) {
  auto* bar = static_cast<ProgressBar*>(context);
  if (bar->console_.CancelRequested()) return false;
  if (!bar->draw_ || total == 0) return true;
  const int permille = static_cast<int>(static_cast<std::uint64_t>(done) * 1000 / total);
  if (permille == bar->lastPermille_) return true;
  bar->lastPermille_ = permille;
  constexpr int kWidth = 40;
  const int filled = permille * kWidth / 1000;
  std::string line = "\r[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kWidth - filled), ' ');
  line += "] " + std::to_string(permille / 10) + "." + std::to_string(permille % 10) + "%";
  bar->console_.Err(line);
  bar->drawn_ = true;
  return true;
}

void ProgressBar::Finish() {
  if (drawn_) console_.Err("\n");
  drawn_ = false;
  lastPermille_ = -1;
}

}  // namespace qvt::qvtdisk
