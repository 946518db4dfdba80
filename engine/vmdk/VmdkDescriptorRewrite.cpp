#include "VmdkDescriptor.h"

#include <cstdarg>
#include <cstring>

#include "Heap.h"
#include "TextFormat.h"
#include "VmdkDescriptorLine.h"

namespace qvt {

namespace {

using vmdk::KnownKey;

// The output side of a rewrite: every piece goes through Put, which stops
// at the first failure so that callers can write a sequence and check once.
struct Writer {
  ByteBuffer* out;
  TextEncoding outEnc;
  TextEncoding sourceEnc;
  bool ok;
  // A copied last extent line keeps its missing line break, unless
  // something follows it: then the break comes first, or the next line
  // would run into the extent line.
  bool pendingBreak;
};

bool PutV(Writer* w, const char* format, std::va_list args) {
  if (!w->ok) return false;
  if (w->pendingBreak) {
    w->pendingBreak = false;
    w->ok = TextFormat(w->out, w->outEnc, "\n", ENC_SHIFT_JIS);
    if (!w->ok) return false;
  }
  w->ok = TextFormatV(w->out, w->outEnc, format, ENC_SHIFT_JIS, args);
  return w->ok;
}

bool Put(Writer* w, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const bool ok = PutV(w, format, args);
  va_end(args);
  return ok;
}

// A key's flags in the change.
struct KeyChange {
  bool set;
  bool remove;
};

KeyChange FlagsOf(const _VMWARE_VMDK_CHANGE_PARAM& c, KnownKey key) {
  switch (key) {
    case vmdk::KEY_VERSION:
      return {c.setVersion != 0, c.removeVersion != 0};
    case vmdk::KEY_ENCODING:
      return {c.setEncoding != 0, c.removeEncoding != 0};
    case vmdk::KEY_CID:
      return {c.setCid != 0, c.removeCid != 0};
    case vmdk::KEY_PARENT_CID:
      return {c.setParentCid != 0, c.removeParentCid != 0};
    case vmdk::KEY_CREATE_TYPE:
      return {c.setCreateType != 0, c.removeCreateType != 0};
    case vmdk::KEY_PARENT_FILE_NAME_HINT:
      return {c.setParentFileNameHint != 0, c.removeParentFileNameHint != 0};
    case vmdk::KEY_HW_VERSION:
      return {c.setHwVersion != 0, c.removeHwVersion != 0};
    case vmdk::KEY_UUID:
      return {c.setUuid != 0, c.removeUuid != 0};
    case vmdk::KEY_CYLINDERS:
      return {c.setCylinders != 0, c.removeCylinders != 0};
    case vmdk::KEY_HEADS:
      return {c.setHeads != 0, c.removeHeads != 0};
    case vmdk::KEY_SECTORS:
      return {c.setSectors != 0, c.removeSectors != 0};
    case vmdk::KEY_ADAPTER_TYPE:
      return {c.setAdapterType != 0, c.removeAdapterType != 0};
    default:
      return {false, false};
  }
}

// Set and not removed: the key is to carry a new value.
bool Sets(const _VMWARE_VMDK_CHANGE_PARAM& c, KnownKey key) {
  const KeyChange f = FlagsOf(c, key);
  return f.set && !f.remove;
}

// Version, CID and parentCID are written bare, whatever the source had.
bool IsQuoted(KnownKey key) {
  return key != vmdk::KEY_VERSION && key != vmdk::KEY_CID && key != vmdk::KEY_PARENT_CID;
}

// A new value as text: a view with its encoding; numbers are made in
// `digits`.
struct Value {
  TextView view;
  TextEncoding encoding;
};

struct Digits {
  std::uint8_t storage[16];
};

TextView AsciiView(const char* text) {
  return MakeView(text, static_cast<std::uint32_t>(std::strlen(text)));
}

Value NumberValue(std::uint32_t n, Digits* d) {
  ByteBuffer b;
  BufferInit(&b, d->storage, sizeof(d->storage));
  // Ten digits always fit the sixteen bytes.
  TextFormat(&b, ENC_SHIFT_JIS, "%u", ENC_SHIFT_JIS, n);
  return Value{BufferView(b), ENC_SHIFT_JIS};
}

// False when the change asks for a value that has no text.
bool NewValue(const _VMWARE_VMDK_CHANGE_PARAM& c, KnownKey key, TextEncoding valueEnc,
              TextEncoding nameEnc, Digits* digits, Value* v) {
  switch (key) {
    case vmdk::KEY_VERSION:
      *v = NumberValue(c.version, digits);
      return true;
    case vmdk::KEY_ENCODING:
      *v = Value{AsciiView(c.encoding == kVmdkEncodingShiftJis ? "Shift_JIS" : "UTF-8"),
                 ENC_SHIFT_JIS};
      return true;
    case vmdk::KEY_CID:
      *v = Value{c.cid, valueEnc};
      return true;
    case vmdk::KEY_PARENT_CID:
      *v = Value{c.parentCid, valueEnc};
      return true;
    case vmdk::KEY_CREATE_TYPE:
      *v = Value{c.createType, valueEnc};
      return true;
    case vmdk::KEY_PARENT_FILE_NAME_HINT:
      *v = Value{c.parentFileNameHint, nameEnc};
      return true;
    case vmdk::KEY_HW_VERSION: {
      const char* text = VmdkHwVersionText(c.hwVersionIndex);
      if (text == nullptr) return false;
      *v = Value{AsciiView(text), ENC_SHIFT_JIS};
      return true;
    }
    case vmdk::KEY_UUID:
      *v = Value{c.uuid, valueEnc};
      return true;
    case vmdk::KEY_CYLINDERS:
      *v = NumberValue(c.cylinders, digits);
      return true;
    case vmdk::KEY_HEADS:
      *v = NumberValue(c.heads, digits);
      return true;
    case vmdk::KEY_SECTORS:
      *v = NumberValue(c.sectors, digits);
      return true;
    case vmdk::KEY_ADAPTER_TYPE: {
      const char* text = VmdkAdapterText(c.adapterType);
      if (text == nullptr) return false;
      *v = Value{AsciiView(text), ENC_SHIFT_JIS};
      return true;
    }
    default:
      return false;
  }
}

struct Rewrite {
  const _VMWARE_VMDK_CHANGE_PARAM& change;
  TextEncoding valueEnc;
  TextEncoding nameEnc;
  Writer w;
  bool present[vmdk::KEY_COUNT];
  std::uint32_t sourceExtents;  // E
  std::uint32_t k;              // the change entry of the next extent line
};

void FirstPass(TextView source, TextEncoding e, Rewrite* r) {
  std::uint32_t pos = 0;
  TextView text{};
  bool hasBreak = false;
  vmdk::Line line{};
  while (vmdk::NextLine(source, &pos, &text, &hasBreak)) {
    const vmdk::LineKind kind = vmdk::ClassifyLine(text, &line);
    if (kind == vmdk::LINE_KEY) {
      const KnownKey key = vmdk::FindKnownKey(line.key.key, e);
      if (key != vmdk::KEY_UNKNOWN) r->present[key] = true;
    } else if (kind == vmdk::LINE_EXTENT) {
      ++r->sourceExtents;
    }
  }
}

bool PutNewExtent(Rewrite* r, const VmdkChangeExtent& e) {
  return Put(&r->w, "RW %u SPARSE \"%t\"\n", e.sectors, e.fileName, r->nameEnc);
}

void RewriteKeyLine(Rewrite* r, const vmdk::KeyLine& line, KnownKey key) {
  Value v{};
  Digits digits{};
  if (!NewValue(r->change, key, r->valueEnc, r->nameEnc, &digits, &v)) {
    r->w.ok = false;
    return;
  }
  const char* quote = IsQuoted(key) ? "\"" : "";
  const TextEncoding s = r->w.sourceEnc;
  Put(&r->w, "%t%t%t%s%t%s%t\n", line.lead, s, line.key, s, line.separator, s, quote, ENC_SHIFT_JIS,
      v.view, v.encoding, quote, ENC_SHIFT_JIS, line.rest, s);
}

// The keys that go right behind another key's line when the source lacks
// them, so that they stand where a hypervisor would have put them.
void InsertBehind(Rewrite* r, KnownKey after) {
  const _VMWARE_VMDK_CHANGE_PARAM& c = r->change;
  if (after == vmdk::KEY_VERSION && !r->present[vmdk::KEY_ENCODING] &&
      Sets(c, vmdk::KEY_ENCODING)) {
    Put(&r->w, "encoding=\"%s\"\n", c.encoding == kVmdkEncodingShiftJis ? "Shift_JIS" : "UTF-8",
        ENC_SHIFT_JIS);
    r->present[vmdk::KEY_ENCODING] = true;
  } else if (after == vmdk::KEY_CREATE_TYPE && !r->present[vmdk::KEY_PARENT_FILE_NAME_HINT] &&
             Sets(c, vmdk::KEY_PARENT_FILE_NAME_HINT)) {
    Put(&r->w, "parentFileNameHint=\"%t\"\n", c.parentFileNameHint, r->nameEnc);
    r->present[vmdk::KEY_PARENT_FILE_NAME_HINT] = true;
  } else if (after == vmdk::KEY_HW_VERSION && !r->present[vmdk::KEY_UUID] &&
             Sets(c, vmdk::KEY_UUID)) {
    Put(&r->w, "ddb.uuid = \"%t\"\n", c.uuid, r->valueEnc);
    r->present[vmdk::KEY_UUID] = true;
  }
}

void KeyLineOut(Rewrite* r, TextView text, const vmdk::KeyLine& line) {
  const TextEncoding s = r->w.sourceEnc;
  const KnownKey key = vmdk::FindKnownKey(line.key, s);
  const KeyChange f = FlagsOf(r->change, key);
  if (r->change.dropDdb && vmdk::IsDdbKey(line.key, s)) {
    // Dropped; a key inserted behind it still comes at its place.
  } else if (!f.set) {
    Put(&r->w, "%t\n", text, s);
  } else if (!f.remove) {
    RewriteKeyLine(r, line, key);
  }
  InsertBehind(r, key);
}

void ExtentLineOut(Rewrite* r, TextView text, bool hasBreak, const vmdk::ExtentLine& line) {
  const _VMWARE_VMDK_CHANGE_PARAM& c = r->change;
  const TextEncoding s = r->w.sourceEnc;
  if (r->k < c.extentCount && c.extents[r->k].replace) {
    const VmdkChangeExtent& e = c.extents[r->k];
    const bool sparse = e.makeSparse != 0;
    Put(&r->w, "%t%t%t%u%t%t%t\"%t\"", line.lead, s, sparse ? AsciiView("RW") : line.access,
        sparse ? ENC_SHIFT_JIS : s, line.gap1, s, e.sectors, line.gap2, s,
        sparse ? AsciiView("SPARSE") : line.type, sparse ? ENC_SHIFT_JIS : s, line.gap3, s,
        e.fileName, r->nameEnc);
    // An extent turned sparse loses its offset: sparse extent lines have
    // none, and readers refuse one that does (a child of a split flat disk
    // has one such line per extent).
    if (!sparse) Put(&r->w, "%t%t", line.offsetGap, s, line.offset, s);
    Put(&r->w, "%t\n", line.rest, s);
  } else if (hasBreak) {
    Put(&r->w, "%t\n", text, s);
  } else {
    Put(&r->w, "%t", text, s);
    r->w.pendingBreak = r->w.ok;
  }
  ++r->k;
  if (r->k == r->sourceExtents) {
    // Extents beyond the source's go right behind its last extent line.
    for (; r->k < c.extentCount; ++r->k) {
      if (c.extents[r->k].replace) PutNewExtent(r, c.extents[r->k]);
    }
  }
}

void SecondPass(TextView source, Rewrite* r) {
  std::uint32_t pos = 0;
  TextView text{};
  bool hasBreak = false;
  vmdk::Line line{};
  while (r->w.ok && vmdk::NextLine(source, &pos, &text, &hasBreak)) {
    switch (vmdk::ClassifyLine(text, &line)) {
      case vmdk::LINE_KEY:
        KeyLineOut(r, text, line.key);
        break;
      case vmdk::LINE_EXTENT:
        ExtentLineOut(r, text, hasBreak, line.extent);
        break;
      default:
        Put(&r->w, "%t\n", text, r->w.sourceEnc);
        break;
    }
  }
}

void AppendMissing(Rewrite* r) {
  const _VMWARE_VMDK_CHANGE_PARAM& c = r->change;
  // In the order a descriptor lists them; the quotes as the template has
  // them.
  static const char* const kFormats[vmdk::KEY_COUNT] = {
      "version=%t\n",
      "encoding=\"%t\"\n",
      "CID=%t\n",
      "parentCID=%t\n",
      "createType=\"%t\"\n",
      "parentFileNameHint=\"%t\"\n",
      "ddb.virtualHWVersion = \"%t\"\n",
      "ddb.uuid = \"%t\"\n",
      "ddb.geometry.cylinders = \"%t\"\n",
      "ddb.geometry.heads = \"%t\"\n",
      "ddb.geometry.sectors = \"%t\"\n",
      "ddb.adapterType = \"%t\"\n",
  };
  for (int k = 0; k < vmdk::KEY_COUNT && r->w.ok; ++k) {
    const auto key = static_cast<KnownKey>(k);
    if (r->present[key] || !Sets(c, key)) continue;
    Value v{};
    Digits digits{};
    if (!NewValue(c, key, r->valueEnc, r->nameEnc, &digits, &v)) {
      r->w.ok = false;
      return;
    }
    Put(&r->w, kFormats[k], v.view, v.encoding);
    r->present[key] = true;
  }
  for (; r->k < c.extentCount && r->w.ok; ++r->k) {
    if (c.extents[r->k].replace) PutNewExtent(r, c.extents[r->k]);
  }
}

// The lines are scanned byte by byte, which holds for the encodings whose
// single bytes below 0x80 are ASCII and never trail a multibyte character.
bool IsLineEncoding(TextEncoding e) {
  return e == ENC_SHIFT_JIS || e == ENC_EUC_JP || e == ENC_UTF8;
}

}  // namespace

_VMWARE_VMDK_CHANGE_PARAM* VmdkAllocChange() {
  void* block = EngineAlloc(sizeof(_VMWARE_VMDK_CHANGE_PARAM));
  if (block != nullptr) std::memset(block, 0, sizeof(_VMWARE_VMDK_CHANGE_PARAM));
  return static_cast<_VMWARE_VMDK_CHANGE_PARAM*>(block);
}

void VmdkFreeChange(_VMWARE_VMDK_CHANGE_PARAM* change) { EngineFree(change); }

bool VmdkChangeSetExtent(_VMWARE_VMDK_CHANGE_PARAM* change, std::uint32_t index,
                         std::uint32_t sectors, const void* name, std::uint32_t nameLength,
                         bool makeSparse) {
  if (index >= kVmdkMaxExtents || nameLength > kPathBufferSize) return false;
  if (name == nullptr && nameLength != 0) return false;
  VmdkChangeExtent& e = change->extents[index];
  if (nameLength != 0) std::memcpy(e.nameStorage, name, nameLength);
  e.fileName = TextView{e.nameStorage, nameLength};
  e.replace = 1;
  e.sectors = sectors;
  e.makeSparse = makeSparse ? 1 : 0;
  return true;
}

bool VmdkRewriteDescriptor(TextView source, TextEncoding sourceEnc, ByteBuffer* target,
                           TextEncoding targetEnc, const _VMWARE_VMDK_CHANGE_PARAM& change,
                           TextEncoding valueEnc, TextEncoding nameEnc) {
  if (target == nullptr || !IsLineEncoding(sourceEnc) || !IsKnownEncoding(targetEnc) ||
      !IsKnownEncoding(valueEnc) || !IsKnownEncoding(nameEnc)) {
    return false;
  }
  if (source.data == nullptr && source.length != 0) return false;
  if (change.extentCount > kVmdkMaxExtents) return false;
  BufferReset(target);

  Rewrite r{change, valueEnc, nameEnc, Writer{target, targetEnc, sourceEnc, true, false}, {}, 0, 0};
  FirstPass(source, sourceEnc, &r);
  SecondPass(source, &r);
  AppendMissing(&r);
  return r.w.ok && BufferTerminate(target, targetEnc);
}

}  // namespace qvt
