#include "VmdkDescriptor.h"

#include <cstring>

#include "TextCompare.h"
#include "VmdkDescriptorLine.h"

namespace qvt {

namespace {

using vmdk::ExtentLine;
using vmdk::KeyLine;
using vmdk::KnownKey;

constexpr const char* kHwVersionTexts[kVmdkHwVersionCount] = {"3", "4",  "5",  "6",  "7", "8",
                                                              "9", "10", "11", "12", "13"};
constexpr const char* kAdapterTexts[] = {"ide", "buslogic", "lsilogic"};
constexpr std::uint32_t kUint32Max = 0xFFFFFFFFu;
constexpr std::uint64_t kUint64Max = 0xFFFFFFFFFFFFFFFFull;

// Which createTypes exist and what they demand of the extents.
struct CreateTypeRule {
  const char* name;
  std::uint32_t split;
  std::uint32_t flat;
  bool exactlyOne;  // else at least one
  bool mayBeChild;
};

constexpr CreateTypeRule kCreateTypes[] = {
    {"monolithicSparse", 0, 0, true, true}, {"twoGbMaxExtentSparse", 1, 0, false, true},
    {"monolithicFlat", 0, 1, true, false},  {"twoGbMaxExtentFlat", 1, 1, false, false},
    {"streamOptimized", 0, 0, true, true},  {"vmfs", 1, 1, false, false},
};

void InitRecord(VmdkDescriptor* d) {
  std::memset(d, 0, sizeof(*d));
  d->encodingAbsent = 1;
  d->encodingKind = kVmdkEncodingNone;
  d->textEncoding = ENC_SHIFT_JIS;
  d->hwVersionIndex = kVmdkHwVersionDefault;
  d->uuidAbsent = 1;
  d->adapterType = kVmdkAdapterNone;
}

struct ParseState {
  VmdkDescriptor* d;
  TextEncoding encoding;  // of the text from the current line on
  bool seen[vmdk::KEY_COUNT];
};

bool ParseNumber32(TextView v, std::uint32_t* out) {
  std::uint64_t n = 0;
  if (!vmdk::ParseDecimal(v, kUint32Max, &n)) return false;
  *out = static_cast<std::uint32_t>(n);
  return true;
}

bool TakeEncoding(ParseState* s, TextView value) {
  VmdkDescriptor* d = s->d;
  d->encodingAbsent = 0;
  d->encodingValue = value;
  if (TextEqualsAscii(value, s->encoding, "Shift_JIS", false)) {
    d->encodingKind = kVmdkEncodingShiftJis;
  } else if (TextEqualsAscii(value, s->encoding, "UTF-8", true)) {
    d->encodingKind = kVmdkEncodingUtf8;
    s->encoding = ENC_UTF8;
  } else {
    d->encodingKind = kVmdkEncodingOther;
  }
  d->textEncoding = s->encoding;
  return true;
}

bool TakeAdapter(ParseState* s, TextView value) {
  for (std::uint32_t a = 0; a < sizeof(kAdapterTexts) / sizeof(kAdapterTexts[0]); ++a) {
    if (TextEqualsAscii(value, s->encoding, kAdapterTexts[a], false)) {
      s->d->adapterType = a;
      return true;
    }
  }
  return false;
}

bool TakeKey(ParseState* s, const KeyLine& line) {
  const KnownKey key = vmdk::FindKnownKey(line.key, s->encoding);
  if (key == vmdk::KEY_UNKNOWN) return true;
  // "version" opens the descriptor: a known key before it, or any known key
  // twice, makes the text something this engine cannot trust.
  if (key != vmdk::KEY_VERSION && !s->seen[vmdk::KEY_VERSION]) return false;
  if (s->seen[key]) return false;
  s->seen[key] = true;

  VmdkDescriptor* d = s->d;
  const TextView value = line.value;
  switch (key) {
    case vmdk::KEY_VERSION: {
      std::uint32_t version = 0;
      return ParseNumber32(value, &version) && version == 1;
    }
    case vmdk::KEY_ENCODING:
      return TakeEncoding(s, value);
    case vmdk::KEY_CID:
      d->cid = value;
      return true;
    case vmdk::KEY_PARENT_CID:
      d->parentCid = value;
      return true;
    case vmdk::KEY_CREATE_TYPE:
      d->createType = value;
      return true;
    case vmdk::KEY_UUID:
      d->uuid = value;
      d->uuidAbsent = 0;
      return true;
    case vmdk::KEY_PARENT_FILE_NAME_HINT:
      d->parentFileNameHint = vmdk::TrimBlanks(value);
      return d->parentFileNameHint.length > 0;
    case vmdk::KEY_HW_VERSION: {
      std::uint32_t number = 0;
      return ParseNumber32(value, &number) && VmdkHwVersionIndex(number, &d->hwVersionIndex);
    }
    case vmdk::KEY_CYLINDERS:
      return ParseNumber32(value, &d->cylinders);
    case vmdk::KEY_HEADS:
      return ParseNumber32(value, &d->heads);
    case vmdk::KEY_SECTORS:
      return ParseNumber32(value, &d->sectors);
    case vmdk::KEY_ADAPTER_TYPE:
      return TakeAdapter(s, value);
    default:
      return false;
  }
}

bool TakeExtent(ParseState* s, const ExtentLine& line) {
  VmdkDescriptor* d = s->d;
  if (!s->seen[vmdk::KEY_VERSION] || d->extentCount == kVmdkMaxExtents) return false;
  if (!TextEqualsAscii(line.access, s->encoding, "RW", true) &&
      !TextEqualsAscii(line.access, s->encoding, "RDONLY", true)) {
    return false;
  }
  VmdkExtent extent{};
  std::uint32_t sectors = 0;
  if (!ParseNumber32(line.size, &sectors)) return false;
  extent.sectors = sectors;
  if (TextEqualsAscii(line.type, s->encoding, "SPARSE", true)) {
    extent.kind = kVmdkExtentSparse;
  } else if (TextEqualsAscii(line.type, s->encoding, "FLAT", true) ||
             TextEqualsAscii(line.type, s->encoding, "VMFS", true)) {
    extent.kind = kVmdkExtentFlat;
  } else {
    return false;
  }
  if (line.hasOffset && !vmdk::ParseDecimal(line.offset, kUint64Max, &extent.offset)) {
    return false;
  }
  extent.fileName = line.name;
  d->extents[d->extentCount++] = extent;
  return true;
}

// Base or child, from which keys the text had.
bool Classify(const ParseState& s) {
  VmdkDescriptor* d = s.d;
  const bool common = s.seen[vmdk::KEY_VERSION] && s.seen[vmdk::KEY_CID] &&
                      s.seen[vmdk::KEY_PARENT_CID] && s.seen[vmdk::KEY_CREATE_TYPE];
  if (!common) return false;
  const bool hint = s.seen[vmdk::KEY_PARENT_FILE_NAME_HINT];
  const bool adapter = s.seen[vmdk::KEY_ADAPTER_TYPE];
  const bool geometry =
      s.seen[vmdk::KEY_CYLINDERS] || s.seen[vmdk::KEY_HEADS] || s.seen[vmdk::KEY_SECTORS];
  if (!hint && adapter) {
    d->isChild = 0;
    if (!s.seen[vmdk::KEY_HEADS]) d->heads = 16;
    if (!s.seen[vmdk::KEY_SECTORS]) d->sectors = 63;
    return true;
  }
  if (hint && !adapter && !geometry) {
    // A child carries no disk database; its geometry is its base's.
    d->isChild = 1;
    return true;
  }
  return false;
}

bool CheckCreateType(const ParseState& s) {
  VmdkDescriptor* d = s.d;
  for (const CreateTypeRule& rule : kCreateTypes) {
    if (!TextEqualsAscii(d->createType, s.encoding, rule.name, true)) continue;
    if (rule.exactlyOne ? d->extentCount != 1 : d->extentCount == 0) return false;
    if (d->isChild && !rule.mayBeChild) return false;
    for (std::uint32_t i = 0; i < d->extentCount; ++i) {
      const VmdkExtent& e = d->extents[i];
      if (rule.flat ? e.kind != kVmdkExtentFlat : (e.kind != kVmdkExtentSparse || e.offset != 0)) {
        return false;
      }
    }
    d->split = rule.split;
    d->flat = rule.flat;
    return true;
  }
  return false;
}

bool ParseInto(TextView text, ParseState* s) {
  std::uint32_t pos = 0;
  TextView lineText{};
  bool hasBreak = false;
  vmdk::Line line{};
  while (vmdk::NextLine(text, &pos, &lineText, &hasBreak)) {
    switch (vmdk::ClassifyLine(lineText, &line)) {
      case vmdk::LINE_KEY:
        if (!TakeKey(s, line.key)) return false;
        break;
      case vmdk::LINE_EXTENT:
        if (!TakeExtent(s, line.extent)) return false;
        break;
      default:
        break;  // blank, comment, or a line this engine does not read
    }
  }
  return Classify(*s) && CheckCreateType(*s);
}

}  // namespace

const char* VmdkHwVersionText(std::uint32_t index) {
  return index < kVmdkHwVersionCount ? kHwVersionTexts[index] : nullptr;
}

bool VmdkHwVersionIndex(std::uint32_t number, std::uint32_t* index) {
  if (number == 0) return false;
  if ((number >= 3 && number <= 11) || number == 13) {
    *index = number - 3;
  } else {
    *index = kVmdkHwVersionDefault;
  }
  return true;
}

const char* VmdkAdapterText(std::uint32_t adapter) {
  return adapter < sizeof(kAdapterTexts) / sizeof(kAdapterTexts[0]) ? kAdapterTexts[adapter]
                                                                    : nullptr;
}

bool VmdkParseDescriptor(TextView text, VmdkDescriptor* descriptor) {
  InitRecord(descriptor);
  if (text.data == nullptr && text.length != 0) return false;
  ParseState state{descriptor, ENC_SHIFT_JIS, {}};
  if (ParseInto(text, &state)) return true;
  InitRecord(descriptor);
  return false;
}

}  // namespace qvt
