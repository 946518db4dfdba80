#include "QvtDisk.h"

#include <vector>

#include "ImageHandle.h"
#include "ImageOpen.h"
#include "ToolText.h"
#include "VerbArgs.h"
#include "Verbs.h"
#include "VhdImage.h"
#include "VmdkImage.h"

namespace qvt::qvtdisk {
namespace {

const char kUsage[] =
    "usage: qvtdisk VERB ARGUMENTS\n"
    "\n"
    "  info PATH                  kind, capacity and geometry of the disk, and each disk\n"
    "                             of its parent chain: createType, CID, parentCID,\n"
    "                             parent hint and the grains it holds\n"
    "  export PATH RAWFILE        the whole disk as seen through its chain, into RAWFILE\n"
    "  write PATH OFFSET RAWFILE  the bytes of RAWFILE into the disk at byte OFFSET\n"
    "  set-parent-hint PATH HINT  make HINT the disk's parentFileNameHint: a Windows\n"
    "                             path, relative to the disk's folder (..\\base.vmdk)\n"
    "                             or absolute (Z:\\vm\\base.vmdk)\n"
    "  child PARENT CHILD [--absolute]\n"
    "                             a new, empty delta disk CHILD over PARENT; its\n"
    "                             parent hint is relative unless --absolute is given\n"
    "                             (a VHD parent gets a VHD differencing child)\n"
    "  fold-parent CHILD [--commit|--discard]\n"
    "                             fold the VHD parent's own sectors into CHILD, which\n"
    "                             then names the grandparent as its parent\n"
    "  fold-chain CHILD [--commit|--discard]\n"
    "                             fold all CHILD sees through its VHD chain into it;\n"
    "                             CHILD becomes a dynamic image of its own. Folds work\n"
    "                             on CHILD_QVT_TEMP; after success it replaces CHILD\n"
    "                             (--commit, the default) or is deleted (--discard)\n"
    "  map PATH [--bits FIRST COUNT]\n"
    "                             the trim map of the disk: its volumes, filesystems\n"
    "                             and the sectors in use and free in each; with\n"
    "                             --bits, one 0/1 per sector of that range instead\n"
    "  reparent CHILD MIDDLE [--absolute] [--keep-temp] [--recycle]\n"
    "                             CHILD, a child of MIDDLE, names MIDDLE's parent as\n"
    "                             its own; no grain moves, MIDDLE can go afterwards\n"
    "  merge-middle CHILD MIDDLE [--absolute] [--prevent-fragment]\n"
    "               [--keep-temp] [--recycle]\n"
    "                             CHILD takes in the grains MIDDLE itself holds and\n"
    "                             CHILD lacks, then names MIDDLE's parent as its own\n"
    "  consolidate CHILD TOP [--prevent-fragment] [--keep-temp] [--recycle]\n"
    "                             CHILD takes in all that TOP (normally its parent)\n"
    "                             and TOP's chain hold and CHILD lacks; CHILD then\n"
    "                             stands alone\n"
    "  commit CHILD PARENT [--prevent-fragment] [--keep-temp] [--recycle]\n"
    "                             the grains CHILD holds go into PARENT, which then\n"
    "                             reads as CHILD did; CHILD is left as it is\n"
    "                             These four VMDK verbs write copies named\n"
    "                             FILE_QVT_TEMP and then put them in place; the\n"
    "                             replaced files are deleted (--recycle: sent to the\n"
    "                             recycle bin). --keep-temp leaves the copies for a\n"
    "                             look and changes no live file. --absolute: an\n"
    "                             absolute parent hint; --prevent-fragment: each copy\n"
    "                             is made at its final size first\n"
    "  copy SRC DST [--trim] [--layout single|split|flat|stream] [--stream-optimized]\n"
    "       [--mode N] [--adapter ide|buslogic|lsilogic] [--hw-version N]\n"
    "                             a new VMDK disk DST without a parent that reads as\n"
    "                             SRC (any disk, through its chain) does; --trim\n"
    "                             leaves out what no filesystem on it uses. A VMDK\n"
    "                             SRC's extent sizes and disk database are kept\n"
    "                             (mode 1; modes 0 to 4: see the README); any other\n"
    "                             SRC becomes one sparse file. --layout gives one\n"
    "                             sparse file, extent files of 2047 MiB, one flat\n"
    "                             file or a compressed stream-optimized file (the\n"
    "                             same as --stream-optimized). --adapter and\n"
    "                             --hw-version (3 to 13) replace SRC's values\n"
    "                             (where SRC has none: lsilogic, 12)\n"
    "\n"
    "PATH and RAWFILE are paths of this system. Long work shows its progress on a\n"
    "terminal; Ctrl+C stops it cleanly (a stopped export removes its RAWFILE, a\n"
    "stopped write leaves the disk with what was written so far; the other verbs,\n"
    "stopped, leave every file as it was).\n"
    "Exit status: 0 done, 1 stopped, 2 usage error, 3 engine error.\n";

int Usage(Console& console, const std::string& problem) {
  if (!problem.empty()) console.Err("qvtdisk: " + problem + "\n");
  console.Err(kUsage);
  return kExitUsage;
}

bool ParseOffset(const std::string& text, std::uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

int RunMap(const std::vector<std::string>& args, Console& console) {
  const bool bits = args.size() == 5 && args[2] == "--bits";
  if (args.size() != 2 && !bits) {
    return Usage(console, "map takes PATH and, optionally, --bits FIRST COUNT");
  }
  ToolPath disk{args[1], std::string()};
  if (!EnginePathFromNative(disk.native, &disk.engine)) {
    return Usage(console, "'" + disk.native + "' has no form the disk engine can use");
  }
  if (!bits) return MapVerb(console, disk);
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  if (!ParseOffset(args[3], &first) || !ParseOffset(args[4], &count) || first > UINT32_MAX ||
      count > UINT32_MAX) {
    return Usage(console, "FIRST and COUNT must be decimal sector numbers below 2^32");
  }
  return MapBitsVerb(console, disk, static_cast<std::uint32_t>(first),
                     static_cast<std::uint32_t>(count));
}

int RunChild(const std::vector<std::string>& args, Console& console) {
  const bool absolute = args.size() == 4 && args[3] == "--absolute";
  if (args.size() != 3 && !absolute) {
    return Usage(console, "child takes PARENT CHILD and, at most, --absolute");
  }
  ToolPath parent{args[1], std::string()};
  ToolPath child{args[2], std::string()};
  for (ToolPath* p : {&parent, &child}) {
    if (!EnginePathFromNative(p->native, &p->engine)) {
      return Usage(console, "'" + p->native + "' has no form the disk engine can use");
    }
  }
  return ChildVerb(console, parent, child, absolute);
}

int RunFold(const std::vector<std::string>& args, Console& console) {
  const bool chain = args[0] == "fold-chain";
  bool commit = true;
  if (args.size() == 3 && (args[2] == "--commit" || args[2] == "--discard")) {
    commit = args[2] == "--commit";
  } else if (args.size() != 2) {
    return Usage(console, args[0] + " takes CHILD and, at most, --commit or --discard");
  }
  ToolPath child{args[1], std::string()};
  if (!EnginePathFromNative(child.native, &child.engine)) {
    return Usage(console, "'" + child.native + "' has no form the disk engine can use");
  }
  return chain ? FoldChainVerb(console, child, commit) : FoldParentVerb(console, child, commit);
}

int RunChain(const std::vector<std::string>& args, ChainVerbKind kind, Console& console) {
  ToolPath child;
  ToolPath other;
  ChainVerbOptions options;
  std::string problem;
  if (!ParseChainArgs(args, kind, &child, &other, &options, &problem)) {
    return Usage(console, problem);
  }
  return ChainVerb(console, kind, child, other, options);
}

int RunCopy(const std::vector<std::string>& args, Console& console) {
  ToolPath source;
  ToolPath target;
  CopyOptions options;
  std::string problem;
  if (!ParseCopyArgs(args, &source, &target, &options, &problem)) return Usage(console, problem);
  return CopyVerb(console, source, target, options);
}

bool IsVhdName(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == ".vhd";
}

}  // namespace

int EngineFailure(Console& console, const std::string& what, DiskResult result) {
  if (result == DISK_CANCELLED) {
    console.Err("qvtdisk: stopped\n");
    return kExitCancelled;
  }
  console.Err("qvtdisk: " + what + ": " + DiskResultText(result) + "\n");
  return kExitEngine;
}

DiskResult OpenDisk(Console& console, const ToolPath& disk, bool readOnly,
                    std::uint32_t parentMode, ImageHandle* image) {
  ProgressBar quiet(console, false);
  const DiskResult r = ImageOpen(image, disk.engine.c_str(), readOnly, parentMode,
                                 &ProgressBar::Report, &quiet);
  if (r == DISK_E_LIMIT) {
    // Detection hides the reason a VMDK was refused; ask the VMDK opener
    // alone so that the user learns it.
    VmdkImage* vmdk = nullptr;
    const DiskResult why = VmdkImageOpen(&vmdk, disk.engine.c_str(), readOnly, parentMode,
                                         &ProgressBar::Report, &quiet);
    VmdkImageClose(vmdk);
    if (why != DISK_OK && why != DISK_CANCELLED) {
      console.Err("qvtdisk: " + disk.native + " as a VMDK disk: " + DiskResultText(why) + "\n");
    }
    if (IsVhdName(disk.native)) {
      VhdImage* vhd = nullptr;
      const DiskResult vhdWhy =
          VhdImageOpen(&vhd, disk.engine.c_str(), readOnly, parentMode, nullptr);
      VhdImageClose(vhd);
      if (vhdWhy != DISK_OK) {
        console.Err("qvtdisk: " + disk.native + " as a VHD image: " + DiskResultText(vhdWhy) +
                    "\n");
      }
    }
  }
  return r;
}

int Run(const std::vector<std::string>& args, Console& console) {
  if (args.empty()) return Usage(console, "");
  const std::string& verb = args[0];
  if (verb == "help" || verb == "--help" || verb == "-h") {
    console.Out(kUsage);
    return kExitOk;
  }
  if (verb == "child") return RunChild(args, console);
  if (verb == "map") return RunMap(args, console);
  if (verb == "fold-parent" || verb == "fold-chain") return RunFold(args, console);
  if (verb == "copy") return RunCopy(args, console);
  ChainVerbKind chainKind;
  if (ChainVerbByName(verb, &chainKind)) return RunChain(args, chainKind, console);
  struct VerbShape {
    const char* name;
    std::size_t arguments;
  };
  static const VerbShape kVerbs[] = {
      {"info", 1}, {"export", 2}, {"write", 3}, {"set-parent-hint", 2}};
  const VerbShape* shape = nullptr;
  for (const VerbShape& v : kVerbs) {
    if (verb == v.name) shape = &v;
  }
  if (shape == nullptr) return Usage(console, "unknown verb '" + verb + "'");
  if (args.size() != shape->arguments + 1) {
    return Usage(console, verb + " takes " + std::to_string(shape->arguments) + " argument" +
                              (shape->arguments == 1 ? "" : "s"));
  }

  ToolPath disk;
  disk.native = args[1];
  if (!EnginePathFromNative(disk.native, &disk.engine)) {
    return Usage(console, "'" + disk.native + "' has no form the disk engine can use");
  }
  if (verb == "info") return InfoVerb(console, disk);
  if (verb == "set-parent-hint") return SetParentHintVerb(console, disk, args[2]);

  ToolPath raw;
  raw.native = args.back();
  if (!EnginePathFromNative(raw.native, &raw.engine)) {
    return Usage(console, "'" + raw.native + "' has no form the disk engine can use");
  }
  if (verb == "export") return ExportVerb(console, disk, raw);
  std::uint64_t offset = 0;
  if (!ParseOffset(args[2], &offset)) {
    return Usage(console, "OFFSET must be a decimal byte count, not '" + args[2] + "'");
  }
  return WriteVerb(console, disk, offset, raw);
}

}  // namespace qvt::qvtdisk
