// VMware's bar escape for the quoted values of a configuration file: a
// character that would end or break the value is written as "|" and two
// upper-case hexadecimal digits of its code unit.
#ifndef QVT_VMWARE_VMXESCAPE_H
#define QVT_VMWARE_VMXESCAPE_H

#include <string>

namespace qvt {

// "|" -> "|7C", '"' -> "|22", "#" -> "|23"; everything else as it is.
std::wstring EscapeVmxValue(const std::wstring& value);

// "|" and two digits (0-9, A-F only) -> that code unit. A "|" without two
// such digits behind it fails the whole text and leaves `value` as it was.
bool UnescapeVmxValue(const std::wstring& text, std::wstring* value);

// What the writers put between the quotes: EscapeVmxValue, and CR, LF and
// NUL as "|0D", "|0A" and "|00" as well. Left as they are, those three would
// end the line (a NUL ends the text inside a suspend file), so a title with a
// line break would tear the configuration in two; VMware writes them the same
// way and UnescapeVmxValue reads them back.
std::wstring EscapeVmxLineValue(const std::wstring& value);

}  // namespace qvt

#endif
