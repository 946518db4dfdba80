// Lines of configuration text.
#ifndef QVT_VMWARE_TEXTPATH_TEXTLINE_H
#define QVT_VMWARE_TEXTPATH_TEXTLINE_H

#include <istream>
#include <string>

namespace qvt {

// Reads up to the next line feed; one carriage return at the end of the line
// is removed. False at the end of the input (a last line without a line feed
// is still returned).
bool ReadTextLine(std::istream& in, std::string* line);

}  // namespace qvt

#endif
