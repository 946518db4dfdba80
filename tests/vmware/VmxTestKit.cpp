#include "VmxTestKit.h"

#include <clocale>

#include "TextForms.h"

namespace qvt::test {

std::vector<std::string> SplitConfigLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    const bool last = end == std::string::npos;
    if (last) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = last ? end : end + 1;
  }
  return lines;
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

AnsiCodePageScope::AnsiCodePageScope(const std::wstring& probe, const std::string& bytes,
                                     std::initializer_list<const char*> locales) {
  const char* current = std::setlocale(LC_ALL, nullptr);
  saved_ = current != nullptr ? current : "C";
  active_ = WideToAnsi(probe) == bytes;
  for (const char* name : locales) {
    if (active_) break;
    if (std::setlocale(LC_ALL, name) == nullptr) continue;
    changed_ = true;
    active_ = WideToAnsi(probe) == bytes;
  }
}

AnsiCodePageScope::~AnsiCodePageScope() {
  if (changed_) std::setlocale(LC_ALL, saved_.c_str());
}

}  // namespace qvt::test
