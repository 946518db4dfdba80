// Texts of the STRINGTABLE resource of the running program.
#ifndef QVT_APP_WIN32_RESOURCETEXT_H
#define QVT_APP_WIN32_RESOURCETEXT_H

#include <string>

namespace qvt::win32 {

// The string of that id, or an empty string when there is none.
std::wstring LoadResourceText(int id);

}  // namespace qvt::win32

#endif
