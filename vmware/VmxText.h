// Configuration text as the program reads and writes it: lines of bytes in
// the thread's ANSI code page, matched in their UTF-16 form, and edited by
// replacing the bytes of one quoted value while every other byte stays.
#ifndef QVT_VMWARE_VMXTEXT_H
#define QVT_VMWARE_VMXTEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvt {

// Real configurations are a few kilobytes; a larger file is refused before
// memory is taken for it.
constexpr std::uint64_t kMaxVmxFileBytes = 16u << 20;

// The lines of a configuration file as bytes, each without its line feed and
// without one carriage return before it (ReadTextLine). The file is read as
// binary: a Ctrl-Z, which a Windows text stream takes for the end of the
// file, stays part of its line, and so does a second CR before a CR LF, so
// that writing the lines back changes nothing but the line ends. False when
// the file cannot be opened or read or is larger than kMaxVmxFileBytes.
bool ReadVmxFileLines(const std::wstring& path, std::vector<std::string>* lines);

// Creates or truncates the file and writes each line followed by CR LF, as a
// Windows text stream writes a line feed.
bool WriteVmxFileLines(const std::wstring& path, const std::vector<std::string>& lines);

// Replaces the value that a pattern captured at [position, position +
// length) of `text` (the UTF-16 form of `*raw`) by `valueBytes`. The bytes
// before and after the value are kept as they were, even where the code page
// could not decode them (a comment in another encoding). Fails, leaving
// `*raw` as it was, when the captured value is not a quoted one or the bytes
// around it do not decode to the text around it.
bool SpliceVmxValue(std::string* raw, const std::wstring& text, std::size_t position,
                    std::size_t length, const std::string& valueBytes);

enum class VmxValueUse {
  // Names a file: a name the code page cannot hold would name another file,
  // so it fails.
  kFileName,
  // Shown to the user: characters the code page lacks become its default
  // character.
  kLabel,
};

// The ANSI bytes of a value to write between the quotes.
bool VmxValueBytes(const std::wstring& value, VmxValueUse use, std::string* bytes);

}  // namespace qvt

#endif
