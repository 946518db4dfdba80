// The name under which a running QVT claims its executable path, so that a
// second start of the same executable ends at once while copies at other
// paths run side by side.
#ifndef QVT_APP_INSTANCENAME_H
#define QVT_APP_INSTANCENAME_H

#include <cstddef>
#include <string>

namespace qvt {

// Longest kernel object name the system takes: MAX_PATH less the terminator.
constexpr std::size_t kMaxInstanceNameLength = 259;

// The executable's full path with every backslash replaced by an underscore
// (object names may not contain backslashes). A name longer than the system
// takes is cut and ends in a hash of the whole path instead, so that two long
// paths that differ only at their ends still get different names.
std::wstring InstanceMutexName(const std::wstring& executablePath);

}  // namespace qvt

#endif
