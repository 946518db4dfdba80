#include "SparseGrain.h"

#include <zlib.h>

#include <cstring>

#include "Heap.h"

namespace qvt {
namespace {

voidpf HeapAlloc(voidpf, uInt items, uInt size) {
  if (size != 0 && items > static_cast<uInt>(-1) / size) return Z_NULL;
  return EngineAlloc(static_cast<std::size_t>(items) * size);
}

void HeapRelease(voidpf, voidpf block) { EngineFree(block); }

void UseEngineHeap(z_stream* z) {
  std::memset(z, 0, sizeof(*z));
  z->zalloc = &HeapAlloc;
  z->zfree = &HeapRelease;
  z->opaque = Z_NULL;
}

}  // namespace

DiskResult GrainInflate(const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out,
                        std::uint32_t capacity, std::uint32_t* produced) {
  *produced = 0;
  z_stream z;
  UseEngineHeap(&z);
  const int init = inflateInit(&z);
  if (init == Z_MEM_ERROR) return DISK_E_NOMEM;
  if (init != Z_OK) return DISK_E_READ;
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = inLength;
  z.next_out = out;
  z.avail_out = capacity;
  // One call with the whole input: zlib stops at `capacity`, so a stream that
  // wants more output than a grain never writes past the buffer.
  const int status = inflate(&z, Z_FINISH);
  const std::uint32_t total = capacity - z.avail_out;
  inflateEnd(&z);
  if (status == Z_MEM_ERROR) return DISK_E_NOMEM;
  if (status != Z_STREAM_END) return DISK_E_READ;
  *produced = total;
  return DISK_OK;
}

DiskResult GrainDeflaterInit(GrainDeflater* deflater) {
  deflater->state = nullptr;
  auto* z = static_cast<z_stream*>(EngineAlloc(sizeof(z_stream)));
  if (z == nullptr) return DISK_E_NOMEM;
  UseEngineHeap(z);
  const int init = deflateInit(z, 1);
  if (init != Z_OK) {
    EngineFree(z);
    return init == Z_MEM_ERROR ? DISK_E_NOMEM : DISK_E_READ;
  }
  deflater->state = z;
  return DISK_OK;
}

DiskResult GrainDeflate(GrainDeflater* deflater, const std::uint8_t* in, std::uint32_t inLength,
                        std::uint8_t* out, std::uint32_t capacity, std::uint32_t* produced) {
  *produced = 0;
  auto* z = static_cast<z_stream*>(deflater->state);
  if (deflateReset(z) != Z_OK) return DISK_E_READ;
  z->next_in = const_cast<Bytef*>(in);
  z->avail_in = inLength;
  z->next_out = out;
  z->avail_out = capacity;
  const int status = deflate(z, Z_FINISH);
  if (status == Z_STREAM_END) {
    *produced = capacity - z->avail_out;
    return DISK_OK;
  }
  // Z_OK or Z_BUF_ERROR here mean the output did not fit.
  return status == Z_OK || status == Z_BUF_ERROR ? DISK_E_LIMIT : DISK_E_READ;
}

void GrainDeflaterEnd(GrainDeflater* deflater) {
  auto* z = static_cast<z_stream*>(deflater->state);
  if (z == nullptr) return;
  deflateEnd(z);
  EngineFree(z);
  deflater->state = nullptr;
}

}  // namespace qvt
