#include "VmxText.h"

#include <sstream>

#include "FileSystem.h"
#include "TextForms.h"
#include "TextLine.h"

namespace qvt {

bool ReadVmxFileLines(const std::wstring& path, std::vector<std::string>* lines) {
  FileHandle file = OpenFile(path, true);
  if (!file.IsOpen()) return false;
  std::uint64_t size = 0;
  std::string bytes;
  bool ok = GetFileSize(file, &size) && size <= kMaxVmxFileBytes;
  if (ok && size > 0) {
    bytes.resize(static_cast<std::size_t>(size));
    ok = ReadAt(file, 0, static_cast<std::uint32_t>(size), &bytes[0]);
  }
  CloseFile(&file);
  if (!ok) return false;

  std::vector<std::string> read;
  std::istringstream in(bytes);
  for (std::string line; ReadTextLine(in, &line);) read.push_back(line);
  *lines = std::move(read);
  return true;
}

bool WriteVmxFileLines(const std::wstring& path, const std::vector<std::string>& lines) {
  std::string bytes;
  std::size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  if (total > UINT32_MAX) return false;
  bytes.reserve(total);
  for (const std::string& line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  FileHandle file = CreateNewFile(path);
  if (!file.IsOpen()) return false;
  const bool ok =
      bytes.empty() || WriteAt(file, 0, static_cast<std::uint32_t>(bytes.size()), bytes.data());
  CloseFile(&file);
  return ok;
}

bool SpliceVmxValue(std::string* raw, const std::wstring& text, std::size_t position,
                    std::size_t length, const std::string& valueBytes) {
  if (position == 0 || position > text.size() || length > text.size() - position) return false;
  if (position > raw->size() || text[position - 1] != L'"') return false;
  // Before the value the patterns allow only blanks, the key, "=" and the
  // opening quote: ASCII, one byte per code unit in every code page the
  // program runs with. Compared anyway, in case a decoder made ASCII out of
  // something else.
  for (std::size_t i = 0; i < position; ++i) {
    if (static_cast<std::uint32_t>(text[i]) >= 0x80 ||
        static_cast<unsigned char>((*raw)[i]) != static_cast<unsigned char>(text[i])) {
      return false;
    }
  }
  // A quote byte is never the second byte of a double-byte character, so the
  // first one after the opening quote closes the value; the rest of the line
  // must decode to exactly what the pattern saw behind the value.
  const std::size_t close = raw->find('"', position);
  if (close == std::string::npos) return false;
  const std::size_t after = position + length;
  if (after >= text.size() || text[after] != L'"') return false;
  if (AnsiToWide(raw->substr(close)) != text.substr(after)) return false;
  raw->replace(position, close - position, valueBytes);
  return true;
}

bool VmxValueBytes(const std::wstring& value, VmxValueUse use, std::string* bytes) {
  std::string ansi = WideToAnsi(value);
  if (use == VmxValueUse::kFileName && AnsiToWide(ansi) != value) return false;
  *bytes = std::move(ansi);
  return true;
}

}  // namespace qvt
