#include "Lvm2Metadata.h"

namespace qvt {

namespace {

enum KeyRule : std::uint8_t { RULE_ANY, RULE_NUMBER, RULE_PAIRS };

struct KeyRow {
  const char* name;
  KeyRule rule;
  bool required;
};

// One section kind: the keys it takes, where their values go, which
// subsections it opens (none when `open` is null) and what must hold at its
// closing brace besides the required keys. `context` is the section's
// parse state.
struct SectionRules {
  const KeyRow* keys;
  std::uint32_t keyCount;
  bool (*store)(void* context, std::uint32_t key, const Lvm2Value& value, std::uint32_t number);
  bool (*open)(Lvm2Lexer* lexer, void* context, TextView name);
  bool (*finish)(const void* context);
};

template <std::uint32_t N>
constexpr std::uint32_t CountOf(const KeyRow (&)[N]) {
  return N;
}

bool FindKey(const SectionRules& rules, TextView name, std::uint32_t* key) {
  for (std::uint32_t i = 0; i < rules.keyCount; ++i) {
    if (Lvm2TextIs(name, rules.keys[i].name)) {
      *key = i;
      return true;
    }
  }
  return false;
}

bool ParseKey(Lvm2Lexer* lexer, const SectionRules& rules, void* context, TextView name,
              std::uint32_t* seen) {
  std::uint32_t key = 0;
  if (!FindKey(rules, name, &key) || (*seen & (1u << key)) != 0) return false;
  *seen |= 1u << key;
  Lvm2Value value{};
  if (!Lvm2NextValue(lexer, &value)) return false;
  std::uint32_t number = 0;
  switch (rules.keys[key].rule) {
    case RULE_NUMBER:
      if (!Lvm2ValueNumber(value, &number)) return false;
      break;
    case RULE_PAIRS:
      if (value.kind != LVM2_VALUE_LIST) return false;
      break;
    case RULE_ANY: break;
  }
  return rules.store == nullptr || rules.store(context, key, value, number);
}

bool RequiredSeen(const SectionRules& rules, std::uint32_t seen) {
  for (std::uint32_t i = 0; i < rules.keyCount; ++i) {
    if (rules.keys[i].required && (seen & (1u << i)) == 0) return false;
  }
  return true;
}

// Keys and subsections up to the section's "}" (the end of the text for the
// top level). The nesting is fixed by the rules, so hostile text cannot
// make this recurse deeper than a segment.
bool ParseSectionBody(Lvm2Lexer* lexer, const SectionRules& rules, void* context, bool topLevel) {
  std::uint32_t seen = 0;
  for (;;) {
    TextView name{};
    const Lvm2TokenKind token = Lvm2NextToken(lexer, &name);
    if (token == (topLevel ? LVM2_TOKEN_END : LVM2_TOKEN_CLOSE)) break;
    if (token != LVM2_TOKEN_IDENTIFIER) return false;
    TextView unused{};
    const Lvm2TokenKind after = Lvm2NextToken(lexer, &unused);
    if (after == LVM2_TOKEN_EQUALS) {
      if (!ParseKey(lexer, rules, context, name, &seen)) return false;
    } else if (after == LVM2_TOKEN_OPEN) {
      if (rules.open == nullptr || !rules.open(lexer, context, name)) return false;
    } else {
      return false;
    }
  }
  return RequiredSeen(rules, seen) && (rules.finish == nullptr || rules.finish(context));
}

// --- segment ------------------------------------------------------------

struct SegmentParse {
  Lvm2Segment* segment;
  std::uint32_t stripes;
};

enum SegmentKey : std::uint32_t { SEG_START, SEG_COUNT, SEG_TYPE, SEG_STRIPE_COUNT, SEG_STRIPES };
const KeyRow kSegmentKeys[] = {
    {"start_extent", RULE_NUMBER, true},
    {"extent_count", RULE_NUMBER, true},
    {"type", RULE_ANY, true},
    {"stripe_count", RULE_NUMBER, true},
    {"stripes", RULE_PAIRS, true},
};

// `stripes = ["pv0", 0, "pv1", 0]`: a quoted volume name, then its first
// extent, for each stripe.
bool StoreStripes(SegmentParse* parse, TextView list) {
  Lvm2Lexer elements = MakeLvm2Lexer(list);
  Lvm2Value name{};
  while (Lvm2NextListElement(&elements, &name)) {
    Lvm2Value extent{};
    std::uint32_t first = 0;
    if (name.kind != LVM2_VALUE_STRING || !Lvm2NextListElement(&elements, &extent) ||
        !Lvm2ValueNumber(extent, &first) || parse->stripes == kLvm2MaxStripes) {
      return false;
    }
    parse->segment->stripes[parse->stripes++] = Lvm2Stripe{name.text, first};
  }
  return true;
}

bool StoreSegmentKey(void* context, std::uint32_t key, const Lvm2Value& value,
                     std::uint32_t number) {
  auto* parse = static_cast<SegmentParse*>(context);
  Lvm2Segment* s = parse->segment;
  switch (key) {
    case SEG_START: s->startExtent = number; break;
    case SEG_COUNT: s->extentCount = number; break;
    case SEG_TYPE: s->type = value; break;
    case SEG_STRIPE_COUNT: s->stripeCount = number; break;
    case SEG_STRIPES: return StoreStripes(parse, value.text);
    default: break;
  }
  return true;
}

bool FinishSegment(const void* context) {
  const auto* parse = static_cast<const SegmentParse*>(context);
  return parse->stripes == parse->segment->stripeCount;
}

const SectionRules kSegmentRules = {kSegmentKeys, CountOf(kSegmentKeys), StoreSegmentKey, nullptr,
                                    FinishSegment};

// --- logical volume -----------------------------------------------------

struct LogicalVolumeParse {
  Lvm2LogicalVolume* volume;
  std::uint32_t segments;
};

enum LogicalVolumeKey : std::uint32_t { LV_ID, LV_STATUS, LV_SEGMENT_COUNT };
const KeyRow kLogicalVolumeKeys[] = {
    {"id", RULE_ANY, false},
    {"status", RULE_ANY, false},
    {"segment_count", RULE_NUMBER, true},
    {"flags", RULE_ANY, false},
    {"creation_host", RULE_ANY, false},
    {"creation_time", RULE_ANY, false},
};

bool StoreLogicalVolumeKey(void* context, std::uint32_t key, const Lvm2Value&,
                           std::uint32_t number) {
  if (key == LV_SEGMENT_COUNT)
    static_cast<LogicalVolumeParse*>(context)->volume->segmentCount = number;
  return true;
}

bool OpenSegment(Lvm2Lexer* lexer, void* context, TextView name) {
  auto* parse = static_cast<LogicalVolumeParse*>(context);
  if (parse->segments == kLvm2MaxSegments) return false;
  Lvm2Segment* segment = &parse->volume->segments[parse->segments++];
  *segment = Lvm2Segment{};
  segment->name = name;
  SegmentParse inner{segment, 0};
  return ParseSectionBody(lexer, kSegmentRules, &inner, false);
}

bool FinishLogicalVolume(const void* context) {
  const auto* parse = static_cast<const LogicalVolumeParse*>(context);
  return parse->segments == parse->volume->segmentCount;
}

const SectionRules kLogicalVolumeRules = {kLogicalVolumeKeys, CountOf(kLogicalVolumeKeys),
                                          StoreLogicalVolumeKey, OpenSegment, FinishLogicalVolume};

// --- physical volume ----------------------------------------------------

enum PhysicalVolumeKey : std::uint32_t {
  PV_ID,
  PV_DEVICE,
  PV_STATUS,
  PV_DEV_SIZE,
  PV_PE_START,
  PV_PE_COUNT
};
const KeyRow kPhysicalVolumeKeys[] = {
    {"id", RULE_ANY, true},          {"device", RULE_ANY, false},
    {"status", RULE_ANY, false},     {"dev_size", RULE_NUMBER, true},
    {"pe_start", RULE_NUMBER, true}, {"pe_count", RULE_NUMBER, true},
    {"flags", RULE_ANY, false},
};

bool StorePhysicalVolumeKey(void* context, std::uint32_t key, const Lvm2Value& value,
                            std::uint32_t number) {
  auto* pv = static_cast<Lvm2PhysicalVolumeSection*>(context);
  switch (key) {
    case PV_ID: pv->id = value; break;
    case PV_DEV_SIZE: pv->devSize = number; break;
    case PV_PE_START: pv->peStart = number; break;
    case PV_PE_COUNT: pv->peCount = number; break;
    default: break;
  }
  return true;
}

const SectionRules kPhysicalVolumeRules = {kPhysicalVolumeKeys, CountOf(kPhysicalVolumeKeys),
                                           StorePhysicalVolumeKey, nullptr, nullptr};

// --- the lists of a volume group ----------------------------------------

bool OpenPhysicalVolume(Lvm2Lexer* lexer, void* context, TextView name) {
  auto* group = static_cast<Lvm2VolumeGroup*>(context);
  if (group->physicalVolumeCount == kLvm2MaxPhysicalVolumes) return false;
  Lvm2PhysicalVolumeSection* pv = &group->physicalVolumes[group->physicalVolumeCount++];
  *pv = Lvm2PhysicalVolumeSection{};
  pv->name = name;
  return ParseSectionBody(lexer, kPhysicalVolumeRules, pv, false);
}

bool OpenLogicalVolume(Lvm2Lexer* lexer, void* context, TextView name) {
  auto* group = static_cast<Lvm2VolumeGroup*>(context);
  if (group->logicalVolumeCount == kLvm2MaxLogicalVolumes) return false;
  Lvm2LogicalVolume* volume = &group->logicalVolumes[group->logicalVolumeCount++];
  *volume = Lvm2LogicalVolume{};
  volume->name = name;
  LogicalVolumeParse inner{volume, 0};
  return ParseSectionBody(lexer, kLogicalVolumeRules, &inner, false);
}

// The two lists hold named sections only, no keys.
const SectionRules kPhysicalVolumeList = {nullptr, 0, nullptr, OpenPhysicalVolume, nullptr};
const SectionRules kLogicalVolumeList = {nullptr, 0, nullptr, OpenLogicalVolume, nullptr};

// --- volume group -------------------------------------------------------

struct VolumeGroupParse {
  Lvm2VolumeGroup* group;
  bool sawPhysicalVolumes;
  bool sawLogicalVolumes;
};

enum VolumeGroupKey : std::uint32_t { VG_EXTENT_SIZE = 4 };
const KeyRow kVolumeGroupKeys[] = {
    {"id", RULE_ANY, false},
    {"seqno", RULE_NUMBER, false},
    {"format", RULE_ANY, false},
    {"status", RULE_ANY, false},
    {"extent_size", RULE_NUMBER, true},
    {"max_lv", RULE_NUMBER, false},
    {"max_pv", RULE_NUMBER, false},
    {"metadata_copies", RULE_NUMBER, false},
    {"flags", RULE_ANY, false},
};

bool StoreVolumeGroupKey(void* context, std::uint32_t key, const Lvm2Value&, std::uint32_t number) {
  if (key == VG_EXTENT_SIZE) static_cast<VolumeGroupParse*>(context)->group->extentSize = number;
  return true;
}

bool OpenVolumeGroupList(Lvm2Lexer* lexer, void* context, TextView name) {
  auto* parse = static_cast<VolumeGroupParse*>(context);
  bool* seen = nullptr;
  const SectionRules* rules = nullptr;
  if (Lvm2TextIs(name, "physical_volumes")) {
    seen = &parse->sawPhysicalVolumes;
    rules = &kPhysicalVolumeList;
  } else if (Lvm2TextIs(name, "logical_volumes")) {
    seen = &parse->sawLogicalVolumes;
    rules = &kLogicalVolumeList;
  } else {
    return false;
  }
  if (*seen) return false;
  *seen = true;
  return ParseSectionBody(lexer, *rules, parse->group, false);
}

const SectionRules kVolumeGroupRules = {kVolumeGroupKeys, CountOf(kVolumeGroupKeys),
                                        StoreVolumeGroupKey, OpenVolumeGroupList, nullptr};

// --- top level ----------------------------------------------------------

enum TopKey : std::uint32_t { TOP_VERSION = 1 };
const KeyRow kTopKeys[] = {
    {"contents", RULE_ANY, false},         {"version", RULE_NUMBER, true},
    {"description", RULE_ANY, false},      {"creation_host", RULE_ANY, false},
    {"creation_time", RULE_NUMBER, false},
};

bool StoreTopKey(void* context, std::uint32_t key, const Lvm2Value&, std::uint32_t number) {
  if (key == TOP_VERSION) static_cast<Lvm2Metadata*>(context)->version = number;
  return true;
}

bool OpenVolumeGroup(Lvm2Lexer* lexer, void* context, TextView name) {
  auto* metadata = static_cast<Lvm2Metadata*>(context);
  if (metadata->volumeGroupCount == kLvm2MaxVolumeGroups) return false;
  Lvm2VolumeGroup* group = &metadata->volumeGroups[metadata->volumeGroupCount++];
  *group = Lvm2VolumeGroup{};
  group->name = name;
  VolumeGroupParse inner{group, false, false};
  return ParseSectionBody(lexer, kVolumeGroupRules, &inner, false);
}

const SectionRules kTopRules = {kTopKeys, CountOf(kTopKeys), StoreTopKey, OpenVolumeGroup, nullptr};

}  // namespace

bool ParseLvm2Metadata(TextView text, Lvm2Metadata* metadata) {
  metadata->version = 0;
  metadata->volumeGroupCount = 0;
  Lvm2Lexer lexer = MakeLvm2Lexer(text);
  return ParseSectionBody(&lexer, kTopRules, metadata, true);
}

}  // namespace qvt
