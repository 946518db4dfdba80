// The "ANSI code page" on POSIX: the charset of the current C locale
// (nl_langinfo(CODESET)), through iconv. An iconv_t may not be shared between
// threads, so each conversion opens its own; a locale can also change
// between calls. Where iconv cannot convert the locale's charset at all,
// ASCII is assumed.
#include "CodePage.h"

#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <vector>

namespace qvt::platform {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kOutChunk = 4096;

// Closes the converter when it leaves scope.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != kNoConverter) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool IsOpen() const { return cd_ != kNoConverter; }

  // Converts what it can of [*in, *in + *inLeft), appending the output to
  // `out`; stops at the end, at an error (errno tells which) or after a
  // flush when `in` is null. False on error.
  bool Run(char** in, std::size_t* inLeft, std::vector<char>* out) {
    for (;;) {
      char chunk[kOutChunk];
      char* target = chunk;
      std::size_t targetLeft = sizeof chunk;
      const std::size_t rc = iconv(cd_, in, inLeft, &target, &targetLeft);
      const int error = errno;
      out->insert(out->end(), chunk, target);
      if (rc != static_cast<std::size_t>(-1)) return true;
      if (error != E2BIG) {
        errno = error;
        return false;
      }
    }
  }

 private:
  iconv_t cd_;
};

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

std::wstring AsciiToWide(const std::string& text) {
  std::wstring out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    out.push_back(c < 0x80 ? static_cast<wchar_t>(c) : L'\xFFFD');
  }
  return out;
}

std::string WideToAscii(const std::vector<char16_t>& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) ++i;
    out.push_back(u < 0x80 ? static_cast<char>(u) : '?');
  }
  return out;
}

}  // namespace

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  Converter converter("UTF-16LE", nl_langinfo(CODESET));
  if (!converter.IsOpen()) return AsciiToWide(text);
  std::vector<char> bytes;  // UTF-16LE
  // iconv's input is char**, though it only reads through it.
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    if (converter.Run(&in, &inLeft, &bytes)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    // One undecodable byte (or a character cut off at the end) becomes
    // U+FFFD; decoding goes on after it.
    bytes.push_back('\xFD');
    bytes.push_back('\xFF');
    ++in;
    --inLeft;
  }
  std::wstring out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return out;
}

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  // The wide string as UTF-16LE; an element above 0xFFFF is no UTF-16 unit
  // and counts as a character the code page lacks, so it is '?' at once.
  std::vector<char16_t> units;
  units.reserve(text.size());
  for (const wchar_t c : text) {
    units.push_back(static_cast<std::uint32_t>(c) > 0xFFFF ? u'?' : static_cast<char16_t>(c));
  }
  std::vector<char> bytes;
  bytes.reserve(units.size() * 2);
  for (const char16_t u : units) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  Converter converter(nl_langinfo(CODESET), "UTF-16LE");
  if (!converter.IsOpen()) return WideToAscii(units);
  std::vector<char> out;
  char* in = bytes.data();
  std::size_t inLeft = bytes.size();
  while (inLeft > 0) {
    if (converter.Run(&in, &inLeft, &out)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    // Skip the character iconv could not write (a surrogate pair is one)
    // and write '?' through the converter, so that a stateful charset
    // stays in step.
    const std::size_t unit = static_cast<std::size_t>(in - bytes.data()) / 2;
    const std::size_t skip =
        IsHighSurrogate(units[unit]) && unit + 1 < units.size() && IsLowSurrogate(units[unit + 1])
            ? 4
            : 2;
    const std::size_t step = skip < inLeft ? skip : inLeft;
    in += step;
    inLeft -= step;
    char question[2] = {'?', '\0'};
    char* q = question;
    std::size_t qLeft = sizeof question;
    if (!converter.Run(&q, &qLeft, &out)) out.push_back('?');
  }
  std::size_t none = 0;
  converter.Run(nullptr, &none, &out);  // back to the initial shift state
  return std::string(out.begin(), out.end());
}

}  // namespace qvt::platform
