#include "TextLine.h"

namespace qvt {

bool ReadTextLine(std::istream& in, std::string* line) {
  line->clear();
  if (!std::getline(in, *line)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

}  // namespace qvt
