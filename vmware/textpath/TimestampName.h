// Names of new files: the time-stamp suffix "_QVT" + 14 digits of local time,
// replacing an earlier suffix instead of piling one onto another.
#ifndef QVT_VMWARE_TEXTPATH_TIMESTAMPNAME_H
#define QVT_VMWARE_TEXTPATH_TIMESTAMPNAME_H

#include <string>

#include "Clock.h"

namespace qvt {

// "_QVT" and the time as year, month, day, hour, minute, second (14 digits).
// One operation takes the suffix once and names all its files with it.
std::wstring TimestampSuffix();
std::wstring TimestampSuffixAt(const platform::LocalTime& time);

// stem ending in _QVT + 14 digits: that suffix is replaced; stem ending in
// _QVT + 14 digits + "-" + 8 hex digits: the suffix is replaced and the
// hyphen part kept at the end; any other stem: the suffix is appended.
std::wstring ApplyTimestampSuffix(const std::wstring& stem, const std::wstring& suffix);
// The same on a file name, its extension kept.
std::wstring RenameWithTimestamp(const std::wstring& fileName, const std::wstring& suffix);

}  // namespace qvt

#endif
