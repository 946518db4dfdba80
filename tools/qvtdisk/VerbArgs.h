// The arguments of the verbs that take options: parsed into their option
// records, or a one-line problem for the usage message.
#ifndef QVT_TOOLS_QVTDISK_VERBARGS_H
#define QVT_TOOLS_QVTDISK_VERBARGS_H

#include <string>
#include <vector>

#include "Verbs.h"

namespace qvt::qvtdisk {

// The verb's kind by its name; false for a name that is none of the four.
bool ChainVerbByName(const std::string& name, ChainVerbKind* kind);

// args[0] is the verb. False with `problem` set when the arguments do not fit.
bool ParseChainArgs(const std::vector<std::string>& args, ChainVerbKind kind, ToolPath* child,
                    ToolPath* other, ChainVerbOptions* options, std::string* problem);
bool ParseCopyArgs(const std::vector<std::string>& args, ToolPath* source, ToolPath* target,
                   CopyOptions* options, std::string* problem);

// Fills the engine form of a path; false with `problem` set when it has none.
bool ToEnginePath(ToolPath* path, std::string* problem);

}  // namespace qvt::qvtdisk

#endif
