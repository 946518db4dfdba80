// The VMDK descriptor: the short text that names a disk's extent files and
// holds its identity (CID), its parent link (parentCID, parentFileNameHint)
// and the disk database (ddb.*). Read from a file of its own or from behind
// the sparse header of a single-file disk, parsed into a VmdkDescriptor,
// written for a new base disk from a template, and rewritten line by line
// under a change record so that whatever the engine is not told to change
// survives.
#ifndef QVT_ENGINE_VMDK_VMDKDESCRIPTOR_H
#define QVT_ENGINE_VMDK_VMDKDESCRIPTOR_H

#include <cstdint>

#include "ByteBuffer.h"
#include "DiskResult.h"
#include "FileStream.h"
#include "ImageHandle.h"
#include "TextEncoding.h"

namespace qvt {

// A descriptor names at most this many extents; the change record has as
// many entries.
constexpr std::uint32_t kVmdkMaxExtents = 1000;
// The largest descriptor text the engine reads (a separate descriptor file,
// or the embedded area); anything larger is not a descriptor.
constexpr std::uint32_t kVmdkMaxDescriptorBytes = 131072;
// Parent links VmdkFindBaseDescriptor follows before it calls the chain
// broken: far more than any hypervisor stacks, and it ends a hint that leads
// back into its own chain.
constexpr std::uint32_t kVmdkMaxChainLinks = 256;

constexpr std::uint32_t kVmdkExtentSparse = 0;
constexpr std::uint32_t kVmdkExtentFlat = 1;  // FLAT or VMFS

constexpr std::uint32_t kVmdkAdapterIde = 0;
constexpr std::uint32_t kVmdkAdapterBusLogic = 1;
constexpr std::uint32_t kVmdkAdapterLsiLogic = 2;
constexpr std::uint32_t kVmdkAdapterNone = 0xFFFFFFFFu;  // absent, or unknown

constexpr std::uint32_t kVmdkEncodingNone = 0;
constexpr std::uint32_t kVmdkEncodingShiftJis = 1;
constexpr std::uint32_t kVmdkEncodingUtf8 = 2;
constexpr std::uint32_t kVmdkEncodingOther = 3;  // kept, text read as Shift_JIS

// Hardware versions: records carry the index, descriptors the text.
// 0..10 stand for "3".."13"; an absent key means index 9 ("12").
constexpr std::uint32_t kVmdkHwVersionCount = 11;
constexpr std::uint32_t kVmdkHwVersionDefault = 9;
constexpr std::uint32_t kVmdkHwVersionUnknown = 0xFFFFFFFFu;
// "3".."13" for indexes 0..10; nullptr for any other index.
const char* VmdkHwVersionText(std::uint32_t index);
// The index of a ddb.virtualHWVersion number: 3..11 and 13 to their own
// index, every other number to 9; false for 0.
bool VmdkHwVersionIndex(std::uint32_t number, std::uint32_t* index);
// "ide", "buslogic", "lsilogic"; nullptr for any other adapter.
const char* VmdkAdapterText(std::uint32_t adapter);

struct VmdkExtent {
  std::uint64_t sectors;  // parsed as a 32-bit decimal
  TextView fileName;      // as written, in the descriptor's text encoding
  std::uint32_t kind;     // kVmdkExtentSparse or kVmdkExtentFlat
  std::uint64_t offset;   // sectors into a flat file; 0 when absent
};

// The parsed descriptor. Every view points into the descriptor text, which
// must outlive the record.
struct VmdkDescriptor {
  std::uint32_t split;    // several extent files, separate descriptor file
  std::uint32_t flat;     // flat extents
  std::uint32_t isChild;  // has a parentFileNameHint
  std::uint32_t extentCount;
  VmdkExtent extents[kVmdkMaxExtents];
  std::uint8_t encodingAbsent;
  TextView encodingValue;
  std::uint32_t encodingKind;  // kVmdkEncoding*
  std::uint32_t textEncoding;  // ENC_UTF8 after encoding="UTF-8", else ENC_SHIFT_JIS
  TextView cid;
  TextView parentCid;
  TextView createType;
  TextView parentFileNameHint;
  std::uint32_t hwVersionIndex;
  std::uint8_t uuidAbsent;
  TextView uuid;
  std::uint32_t cylinders;
  std::uint32_t heads;
  std::uint32_t sectors;
  std::uint32_t adapterType;  // kVmdkAdapter*
};

// Parses a descriptor text (Shift_JIS until an encoding key switches it).
// False when any rule fails; the record is then left as if empty and must
// not be used.
bool VmdkParseDescriptor(TextView text, VmdkDescriptor* descriptor);

// Where the descriptor of a file lies, from the file's first
// min(size, 512) bytes and its size: behind a valid sparse header (embedded)
// or the whole file. DISK_E_FORMAT for a sparse extent without a descriptor
// and for an area over kVmdkMaxDescriptorBytes.
DiskResult VmdkLocateDescriptor(const std::uint8_t* head, std::uint32_t headLength,
                                std::uint64_t fileSize, std::uint64_t* offset,
                                std::uint32_t* areaBytes, bool* embedded);
// The length of the text in a descriptor area: up to the first NUL, found
// walking the area as Shift_JIS, or as UTF-8 when that walk meets an invalid
// character; the whole area when there is no NUL. False when both walks fail.
bool VmdkDescriptorTextLength(const std::uint8_t* area, std::uint32_t areaBytes,
                              std::uint32_t* textLength);

// Reads and parses the descriptor of an open file. On success `text` holds
// the descriptor text in storage from the engine's heap (capacity = the
// area, length = the text) that the caller releases with
// VmdkFreeDescriptorText; on failure it is empty. `embedded` (may be null)
// tells whether the text came from behind a sparse header.
// DISK_E_SIZE, DISK_E_READ (also: a text that does not parse), DISK_E_FORMAT,
// DISK_E_NOMEM.
DiskResult VmdkReadDescriptorFromStream(FileStream* stream, VmdkDescriptor* descriptor,
                                        ByteBuffer* text, bool* embedded);
// The same for a path (encoding 0), opened read-only; DISK_E_OPEN when it
// cannot be opened.
DiskResult VmdkReadDescriptor(const char* path, VmdkDescriptor* descriptor, ByteBuffer* text);
void VmdkFreeDescriptorText(ByteBuffer* text);

// Follows parentFileNameHint links from `path` (encoding 0) to the base disk
// and returns its descriptor text (the caller frees it) and, when
// `descriptor` is not null, its record. Each hint is resolved against the
// directory of the disk that names it. DISK_E_FORMAT for a resolved path that
// does not fit 520 bytes and for a chain longer than kVmdkMaxChainLinks
// (a chain that loops); read errors as VmdkReadDescriptor gives them.
DiskResult VmdkFindBaseDescriptor(const char* path, ByteBuffer* text, VmdkDescriptor* descriptor);

// Creation parameters of a new disk (the copy operation fills them).
constexpr std::uint32_t kVmdkLayoutSparse = 0;
constexpr std::uint32_t kVmdkLayoutFlat = 1;
constexpr std::uint32_t kVmdkLayoutVmfs = 2;

struct VmdkLayoutExtent {
  char fileName[kPathBufferSize];  // NUL-terminated, encoding 0; empty: the engine names it
  std::uint32_t sectors;
};

struct VmdkLayout {
  std::uint32_t mode;  // 0: as given; 1..4: derived from the source disk
  std::uint32_t split;
  std::uint32_t kind;  // kVmdkLayout*
  std::uint32_t compressed;
  std::uint32_t streamOptimized;
  std::uint32_t adapter;         // kVmdkAdapter*; kVmdkAdapterNone = unknown
  std::uint32_t hwVersionIndex;  // kVmdkHwVersionUnknown = unknown
  std::uint32_t encoding;        // kVmdkEncodingNone, ShiftJis or Utf8
  std::uint32_t extentCount;
  VmdkLayoutExtent* entries;  // extentCount of them, owned by whoever made the layout
};

// Writes the descriptor of a new base disk into target[0, capacity) in
// outEnc, NUL-terminated; the text's length, or 0 when the layout cannot be
// described (a single-file layout without exactly one extent, no extents,
// over kVmdkMaxExtents, an unknown kind, adapter, hardware version or
// encoding, a stream-optimized layout that is not one sparse extent), when
// the extent lines or the text do not fit, or when the heap refuses.
std::uint32_t VmdkWriteBaseDescriptor(void* target, std::uint32_t capacity,
                                      const VmdkLayout& layout, const ImageGeometry& geometry,
                                      TextEncoding outEnc);

// One extent entry of a change.
struct VmdkChangeExtent {
  std::uint8_t replace;
  std::uint32_t sectors;
  TextView fileName;  // usually into nameStorage; in the rewrite's name encoding
  std::uint8_t nameStorage[kPathBufferSize];
  std::uint8_t makeSparse;  // the line becomes RW ... SPARSE
};

// What a rewrite changes; zero-filled before use (no key changed). For each
// key: "set" replaces its value, or adds the key when the text lacks it;
// "set" with "remove" deletes the key's line ("remove" alone does nothing).
// The record is large (about 0.5 MiB): take it from the heap
// (VmdkAllocChange). Copying it leaves fileName views pointing into the
// original's storage.
struct _VMWARE_VMDK_CHANGE_PARAM {
  std::uint8_t setVersion;
  std::uint8_t removeVersion;
  std::uint32_t version;
  std::uint8_t setEncoding;
  std::uint8_t removeEncoding;
  std::uint32_t encoding;  // kVmdkEncodingShiftJis, any other value UTF-8
  std::uint8_t setCid;
  std::uint8_t removeCid;
  TextView cid;
  std::uint8_t setParentCid;
  std::uint8_t removeParentCid;
  TextView parentCid;
  std::uint8_t setCreateType;
  std::uint8_t removeCreateType;
  TextView createType;
  std::uint8_t setParentFileNameHint;
  std::uint8_t removeParentFileNameHint;
  TextView parentFileNameHint;
  std::uint32_t extentCount;
  VmdkChangeExtent extents[kVmdkMaxExtents];
  std::uint8_t setHwVersion;
  std::uint8_t removeHwVersion;
  std::uint32_t hwVersionIndex;
  std::uint8_t setUuid;
  std::uint8_t removeUuid;
  TextView uuid;
  std::uint8_t setCylinders;
  std::uint8_t removeCylinders;
  std::uint32_t cylinders;
  std::uint8_t setHeads;
  std::uint8_t removeHeads;
  std::uint32_t heads;
  std::uint8_t setSectors;
  std::uint8_t removeSectors;
  std::uint32_t sectors;
  std::uint8_t setAdapterType;
  std::uint8_t removeAdapterType;
  std::uint32_t adapterType;  // kVmdkAdapter*
  std::uint8_t dropDdb;       // drop every ddb.* line
};

// A zero-filled change record from the engine's heap; nullptr when it
// refuses. Give it back with VmdkFreeChange.
_VMWARE_VMDK_CHANGE_PARAM* VmdkAllocChange();
void VmdkFreeChange(_VMWARE_VMDK_CHANGE_PARAM* change);
// Sets entry `index`: replace, the sectors, make-sparse, and the name
// (`nameLength` bytes) copied into the entry's own storage. False (entry
// unchanged) for an index past kVmdkMaxExtents or a name over 520 bytes;
// the change's extentCount is the caller's.
bool VmdkChangeSetExtent(_VMWARE_VMDK_CHANGE_PARAM* change, std::uint32_t index,
                         std::uint32_t sectors, const void* name, std::uint32_t nameLength,
                         bool makeSparse);

// Rewrites `source` (in sourceEnc: Shift_JIS, EUC-JP or UTF-8) into `target`
// (reset first, then terminated) in targetEnc, line by line: lines the change
// does not touch are kept as they are (their line breaks become LF), set keys
// keep their blanks and comments, missing keys and extents are inserted or
// appended. The CID, parentCID, createType and ddb.uuid views are in
// valueEnc, the parentFileNameHint and extent names in nameEnc. False for an
// overflow, a failed conversion, an adapter or hardware version without a
// text, or a change of more than kVmdkMaxExtents extents; the target is then
// partly written and must not be used.
bool VmdkRewriteDescriptor(TextView source, TextEncoding sourceEnc, ByteBuffer* target,
                           TextEncoding targetEnc, const _VMWARE_VMDK_CHANGE_PARAM& change,
                           TextEncoding valueEnc, TextEncoding nameEnc);

// The parentFileNameHint of a child at `childPath` whose parent is
// `parentPath` (both absolute, in pathEnc), into `hint` in hintEnc,
// terminated. Absolute mode: the parent's path. Otherwise the parent's file
// name when both share a directory (ignoring case), the relative path from
// the child's directory when both are on the same drive, else the parent's
// path. DISK_E_LIMIT when the hint does not fit or cannot be converted.
DiskResult VmdkMakeParentHint(TextView childPath, TextView parentPath, TextEncoding pathEnc,
                              bool absolute, PathBuffer* hint, TextEncoding hintEnc);

// Deletes a disk: every extent file of a separate descriptor (resolved
// against the descriptor's directory), then the descriptor file or the
// single file; plain or to the recycle bin. Read errors as they are;
// DISK_E_FORMAT when an extent lies outside the descriptor's folder (nothing
// is deleted then), when an extent cannot be deleted (the rest stay) or when
// the last file cannot be deleted.
DiskResult VmdkDeleteDisk(const char* path, bool toRecycleBin);

}  // namespace qvt

#endif
