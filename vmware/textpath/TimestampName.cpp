#include "TimestampName.h"

#include <boost/regex.hpp>

#include "PathRules.h"

namespace qvt {

namespace {

// `value` in decimal, zero-padded to `width` digits (as "%0*d" would).
void AppendPadded(std::wstring* out, int value, std::size_t width) {
  const std::wstring digits = std::to_wstring(value < 0 ? 0 : value);
  if (digits.size() < width) out->append(width - digits.size(), L'0');
  out->append(digits);
}

}  // namespace

std::wstring TimestampSuffixAt(const platform::LocalTime& t) {
  std::wstring suffix = L"_QVT";
  AppendPadded(&suffix, t.year, 4);
  for (int part : {t.month, t.day, t.hour, t.minute, t.second}) AppendPadded(&suffix, part, 2);
  return suffix;
}

std::wstring TimestampSuffix() { return TimestampSuffixAt(platform::CurrentLocalTime()); }

std::wstring ApplyTimestampSuffix(const std::wstring& stem, const std::wstring& suffix) {
  static const boost::wregex plain(L"^(.*)_QVT([0-9]{14})$");
  static const boost::wregex hyphen(L"^(.*)_QVT([0-9]{14})(-[0-9A-Fa-f]{8})$");
  boost::wsmatch m;
  if (boost::regex_match(stem, m, plain)) return m[1].str() + suffix;
  if (boost::regex_match(stem, m, hyphen)) return m[1].str() + suffix + m[3].str();
  return stem + suffix;
}

std::wstring RenameWithTimestamp(const std::wstring& fileName, const std::wstring& suffix) {
  std::wstring stem;
  std::wstring extension;
  SplitExtension(fileName, &stem, &extension);
  return ApplyTimestampSuffix(stem, suffix) + extension;
}

}  // namespace qvt
