// Compressed grains: zlib streams (with the zlib header) inflated into one
// grain on reads and deflated at level 1 by the extent writer. zlib takes its
// memory from the engine's heap, so its allocation failures are ours too.
#ifndef QVT_ENGINE_VMDK_SPARSEGRAIN_H
#define QVT_ENGINE_VMDK_SPARSEGRAIN_H

#include <cstdint>

#include "DiskResult.h"

namespace qvt {

// Inflates the zlib stream in [in, in + inLength) into at most `capacity`
// bytes at `out`; `produced` gets the bytes written. A stream that is damaged,
// ends early or would produce more than `capacity` bytes (a deflate bomb
// stops at the limit) is DISK_E_READ; a refused allocation DISK_E_NOMEM.
DiskResult GrainInflate(const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out,
                        std::uint32_t capacity, std::uint32_t* produced);

// A deflate state kept for a whole write pass (set up once, reset per grain).
struct GrainDeflater {
  void* state = nullptr;  // a z_stream from the engine's heap
};

// DISK_E_NOMEM when the heap refuses.
DiskResult GrainDeflaterInit(GrainDeflater* deflater);
// Deflates `inLength` bytes at level 1 into [out, out + capacity); `produced`
// gets the compressed size. DISK_E_LIMIT when the stream does not finish
// within `capacity`; any other zlib failure is DISK_E_READ.
DiskResult GrainDeflate(GrainDeflater* deflater, const std::uint8_t* in, std::uint32_t inLength,
                        std::uint8_t* out, std::uint32_t capacity, std::uint32_t* produced);
// Frees the state; nothing for one never set up.
void GrainDeflaterEnd(GrainDeflater* deflater);

}  // namespace qvt

#endif
