#include "VerbArgs.h"

#include "ToolText.h"
#include "VmdkDescriptor.h"

namespace qvt::qvtdisk {
namespace {

struct ChainVerbShape {
  const char* name;
  ChainVerbKind kind;
  bool takesAbsolute;
  bool takesPreventFragment;
};

constexpr ChainVerbShape kChainVerbs[] = {
    {"reparent", ChainVerbKind::kReparent, true, false},
    {"merge-middle", ChainVerbKind::kMergeMiddle, true, true},
    {"consolidate", ChainVerbKind::kConsolidate, false, true},
    {"commit", ChainVerbKind::kCommit, false, true},
};

const ChainVerbShape& ShapeOf(ChainVerbKind kind) {
  for (const ChainVerbShape& shape : kChainVerbs) {
    if (shape.kind == kind) return shape;
  }
  return kChainVerbs[0];
}

bool IsOption(const std::string& arg) { return arg.size() > 2 && arg.compare(0, 2, "--") == 0; }

// A small decimal number (at most four digits, so nothing overflows).
bool ParseSmall(const std::string& text, std::uint32_t* value) {
  if (text.empty() || text.size() > 4) return false;
  std::uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  *value = v;
  return true;
}

bool AdapterByName(const std::string& name, std::uint32_t* adapter) {
  for (std::uint32_t a : {kVmdkAdapterIde, kVmdkAdapterBusLogic, kVmdkAdapterLsiLogic}) {
    if (name == VmdkAdapterText(a)) {
      *adapter = a;
      return true;
    }
  }
  return false;
}

// "3".."13" to the index of the engine's hardware-version table.
bool HwVersionByNumber(const std::string& number, std::uint32_t* index) {
  for (std::uint32_t i = 0; i < kVmdkHwVersionCount; ++i) {
    if (number == VmdkHwVersionText(i)) {
      *index = i;
      return true;
    }
  }
  return false;
}

bool LayoutByName(const std::string& name, CopyLayoutKind* layout) {
  static const struct {
    const char* name;
    CopyLayoutKind layout;
  } kLayouts[] = {{"single", CopyLayoutKind::kSingle},
                  {"split", CopyLayoutKind::kSplit},
                  {"flat", CopyLayoutKind::kFlat},
                  {"stream", CopyLayoutKind::kStream}};
  for (const auto& l : kLayouts) {
    if (name == l.name) {
      *layout = l.layout;
      return true;
    }
  }
  return false;
}

bool Fail(std::string* problem, const std::string& text) {
  *problem = text;
  return false;
}

// One option of copy at args[*at] (and its value after it).
bool ParseCopyOption(const std::vector<std::string>& args, std::size_t* at, CopyOptions* o,
                     bool* streamFlag, bool* layoutFlag, std::string* problem) {
  const std::string& name = args[*at];
  if (name == "--trim") {
    o->trim = true;
    return true;
  }
  if (name == "--stream-optimized") {
    *streamFlag = true;
    return true;
  }
  if (name != "--layout" && name != "--mode" && name != "--adapter" && name != "--hw-version") {
    return Fail(problem, "copy has no option '" + name + "'");
  }
  if (*at + 1 >= args.size()) return Fail(problem, name + " needs a value");
  const std::string& value = args[++*at];
  if (name == "--layout") {
    *layoutFlag = true;
    if (!LayoutByName(value, &o->layout)) {
      return Fail(problem, "--layout is single, split, flat or stream, not '" + value + "'");
    }
  } else if (name == "--mode") {
    if (!ParseSmall(value, &o->mode) || o->mode > 4) {
      return Fail(problem, "--mode is 0 to 4, not '" + value + "'");
    }
  } else if (name == "--adapter") {
    if (!AdapterByName(value, &o->adapter)) {
      return Fail(problem, "--adapter is ide, buslogic or lsilogic, not '" + value + "'");
    }
  } else if (!HwVersionByNumber(value, &o->hwVersionIndex)) {
    return Fail(problem, "--hw-version is 3 to 13, not '" + value + "'");
  }
  return true;
}

}  // namespace

bool ToEnginePath(ToolPath* path, std::string* problem) {
  if (EnginePathFromNative(path->native, &path->engine)) return true;
  return Fail(problem, "'" + path->native + "' has no form the disk engine can use");
}

bool ChainVerbByName(const std::string& name, ChainVerbKind* kind) {
  for (const ChainVerbShape& shape : kChainVerbs) {
    if (name == shape.name) {
      *kind = shape.kind;
      return true;
    }
  }
  return false;
}

bool ParseChainArgs(const std::vector<std::string>& args, ChainVerbKind kind, ToolPath* child,
                    ToolPath* other, ChainVerbOptions* options, std::string* problem) {
  const ChainVerbShape& shape = ShapeOf(kind);
  const std::string verb = shape.name;
  std::vector<std::string> paths;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!IsOption(a)) {
      paths.push_back(a);
    } else if (a == "--absolute" && shape.takesAbsolute) {
      options->absolute = true;
    } else if (a == "--prevent-fragment" && shape.takesPreventFragment) {
      options->preventFragment = true;
    } else if (a == "--keep-temp") {
      options->keepTemp = true;
    } else if (a == "--recycle") {
      options->recycle = true;
    } else {
      return Fail(problem, verb + " has no option '" + a + "'");
    }
  }
  if (paths.size() != 2) return Fail(problem, verb + " takes two disks");
  if (options->keepTemp && options->recycle) {
    return Fail(problem, "--keep-temp replaces no file, so --recycle has nothing to do");
  }
  child->native = paths[0];
  other->native = paths[1];
  return ToEnginePath(child, problem) && ToEnginePath(other, problem);
}

bool ParseCopyArgs(const std::vector<std::string>& args, ToolPath* source, ToolPath* target,
                   CopyOptions* options, std::string* problem) {
  std::vector<std::string> paths;
  bool streamFlag = false;
  bool layoutFlag = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!IsOption(args[i])) {
      paths.push_back(args[i]);
    } else if (!ParseCopyOption(args, &i, options, &streamFlag, &layoutFlag, problem)) {
      return false;
    }
  }
  if (paths.size() != 2) return Fail(problem, "copy takes SRC and DST");
  if (streamFlag) {
    if (layoutFlag && options->layout != CopyLayoutKind::kStream) {
      return Fail(problem, "--stream-optimized is the stream layout; it goes with no other");
    }
    options->layout = CopyLayoutKind::kStream;
  }
  // A layout of the user's own is taken as given: the derived modes would
  // replace it with the source's.
  if (options->layout != CopyLayoutKind::kFromSource && options->mode != kCopyValueUnset &&
      options->mode != 0) {
    return Fail(problem, "--layout and --stream-optimized go with --mode 0 only");
  }
  source->native = paths[0];
  target->native = paths[1];
  return ToEnginePath(source, problem) && ToEnginePath(target, problem);
}

}  // namespace qvt::qvtdisk
