#include "TextForms.h"

#include <cstdint>
#include <new>
#include <vector>

#include "ByteBuffer.h"
#include "CodePage.h"
#include "TextConvert.h"

namespace qvt {
namespace {

void AppendUtf8(std::string* out, std::uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUnit(std::string* out, std::uint32_t unit, bool littleEndian) {
  const char low = static_cast<char>(unit & 0xFF);
  const char high = static_cast<char>(unit >> 8);
  out->push_back(littleEndian ? low : high);
  out->push_back(littleEndian ? high : low);
}

bool IsHigh(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Runs the engine's converter into a buffer large enough for any result:
// a character grows to at most twice its size between these encodings.
std::vector<std::uint8_t> EngineConvert(TextView in, TextEncoding from, TextEncoding to) {
  std::vector<std::uint8_t> storage(static_cast<std::size_t>(in.length) * 2 + 4);
  ByteBuffer out;
  BufferInit(&out, storage.data(), static_cast<std::uint32_t>(storage.size()));
  if (!TextConvertAppend(&out, to, in, from)) throw std::bad_alloc();
  storage.resize(out.length);
  return storage;
}

}  // namespace

std::wstring AnsiToWide(const std::string& text) { return platform::AnsiToWide(text); }

std::string WideToAnsi(const std::wstring& text) { return platform::WideToAnsi(text); }

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto unit = static_cast<std::uint32_t>(text[i]) & 0xFFFF;
    if (IsHigh(unit) && i + 1 < text.size() && IsLow(static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF)) {
      const auto low = static_cast<std::uint32_t>(text[++i]) & 0xFFFF;
      AppendUtf8(&out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    } else if (IsHigh(unit) || IsLow(unit)) {
      AppendUtf8(&out, 0xFFFD);
    } else {
      AppendUtf8(&out, unit);
    }
  }
  return out;
}

std::string Utf16BytesToUtf8(const std::string& bytes, bool littleEndian) {
  std::string out;
  if (bytes.size() % 2 != 0) return out;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto first = static_cast<std::uint8_t>(bytes[i]);
    const auto second = static_cast<std::uint8_t>(bytes[i + 1]);
    AppendUtf8(&out, littleEndian ? (second << 8 | first) : (first << 8 | second));
  }
  return out;
}

std::string Utf8ToUtf16Bytes(const std::string& text, bool littleEndian) {
  std::string out;
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t follow = 0;
    std::uint32_t unit = lead;
    if (lead < 0x80) {
      follow = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      follow = 1;
      unit = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      follow = 2;
      unit = lead & 0x0F;
    } else {
      break;  // a continuation byte, or a sequence of four or more bytes
    }
    bool complete = true;
    for (std::size_t k = 1; k <= follow; ++k) {
      if (i + k >= n || (static_cast<std::uint8_t>(text[i + k]) & 0xC0) != 0x80) {
        complete = false;
        break;
      }
      unit = (unit << 6) | (static_cast<std::uint8_t>(text[i + k]) & 0x3F);
    }
    if (!complete) break;
    AppendUnit(&out, unit, littleEndian);
    i += follow + 1;
  }
  return out;
}

std::string ToEnginePath(const std::wstring& path) {
  std::string bytes;
  bytes.reserve(path.size() * 2);
  for (wchar_t unit : path) AppendUnit(&bytes, static_cast<std::uint32_t>(unit) & 0xFFFF, true);
  const std::vector<std::uint8_t> sjis = EngineConvert(
      MakeView(bytes.data(), static_cast<std::uint32_t>(bytes.size())), ENC_UTF16LE, ENC_SHIFT_JIS);
  return std::string(sjis.begin(), sjis.end());
}

std::wstring FromEngineText(TextView text, TextEncoding encoding) {
  std::vector<std::uint8_t> converted;
  if (encoding != ENC_UTF16LE) {
    converted = EngineConvert(text, encoding, ENC_UTF16LE);
    text = MakeView(converted.data(), static_cast<std::uint32_t>(converted.size()));
  }
  std::wstring out;
  out.reserve(text.length / 2);
  for (std::uint32_t i = 0; i + 1 < text.length; i += 2) {
    out.push_back(static_cast<wchar_t>(text.data[i] | (text.data[i + 1] << 8)));
  }
  return out;
}

}  // namespace qvt
