#include "SparseHeader.h"

#include <cstring>

#include "ByteOrder.h"

namespace qvt {

bool DecodeSparseHeader(const std::uint8_t* p, std::size_t length, SparseHeader* h) {
  if (p == nullptr || length < kSparseHeaderBytes) return false;
  h->magicNumber = ReadLE32(p + 0);
  h->version = ReadLE32(p + 4);
  h->flags = ReadLE32(p + 8);
  h->capacity = ReadLE64(p + 12);
  h->grainSize = ReadLE64(p + 20);
  h->descriptorOffset = ReadLE64(p + 28);
  h->descriptorSize = ReadLE64(p + 36);
  h->numGTEsPerGT = ReadLE32(p + 44);
  h->rgdOffset = ReadLE64(p + 48);
  h->gdOffset = ReadLE64(p + 56);
  h->overHead = ReadLE64(p + 64);
  h->uncleanShutdown = p[72];
  h->singleEndLineChar = p[73];
  h->nonEndLineChar = p[74];
  h->doubleEndLineChar1 = p[75];
  h->doubleEndLineChar2 = p[76];
  h->compressAlgorithm = ReadLE16(p + 77);
  h->padFirstByte = p[79];
  return true;
}

bool SparseHeaderIsValid(const SparseHeader& h) {
  const bool descriptorOk = (h.descriptorOffset == 1 && h.descriptorSize >= 1 &&
                             h.descriptorSize <= 64) ||
                            (h.descriptorOffset == 0 && h.descriptorSize == 0);
  return h.magicNumber == kSparseMagic && h.version >= 1 && h.version <= 3 &&
         h.numGTEsPerGT == kGtesPerGt && descriptorOk && h.uncleanShutdown == 0 &&
         h.singleEndLineChar == 0x0A && h.nonEndLineChar == 0x20 &&
         h.doubleEndLineChar1 == 0x0D && h.doubleEndLineChar2 == 0x0A &&
         h.compressAlgorithm <= 1 && h.padFirstByte == 0;
}

bool ParseSparseHeader(const std::uint8_t* bytes, std::size_t length, SparseHeader* header) {
  return DecodeSparseHeader(bytes, length, header) && SparseHeaderIsValid(*header);
}

void EncodeSparseHeader(const SparseHeader& h, std::uint8_t out[kSparseHeaderBytes]) {
  std::memset(out, 0, kSparseHeaderBytes);
  WriteLE32(out + 0, h.magicNumber);
  WriteLE32(out + 4, h.version);
  WriteLE32(out + 8, h.flags);
  WriteLE64(out + 12, h.capacity);
  WriteLE64(out + 20, h.grainSize);
  WriteLE64(out + 28, h.descriptorOffset);
  WriteLE64(out + 36, h.descriptorSize);
  WriteLE32(out + 44, h.numGTEsPerGT);
  WriteLE64(out + 48, h.rgdOffset);
  WriteLE64(out + 56, h.gdOffset);
  WriteLE64(out + 64, h.overHead);
  out[72] = h.uncleanShutdown;
  out[73] = h.singleEndLineChar;
  out[74] = h.nonEndLineChar;
  out[75] = h.doubleEndLineChar1;
  out[76] = h.doubleEndLineChar2;
  WriteLE16(out + 77, h.compressAlgorithm);
  out[79] = h.padFirstByte;
}

}  // namespace qvt
