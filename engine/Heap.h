// The engine's heap: every allocation of the engine goes through here, so
// that tests can make the Nth allocation fail and walk the out-of-memory
// paths of an operation.
#ifndef QVT_ENGINE_HEAP_H
#define QVT_ENGINE_HEAP_H

#include <cstddef>

namespace qvt {

// nullptr when the heap (or an injected fault) refuses.
void* EngineAlloc(std::size_t size);
void EngineFree(void* block);

// Owns one engine allocation for a scope.
class HeapBlock {
 public:
  explicit HeapBlock(std::size_t size) : block_(EngineAlloc(size)) {}
  ~HeapBlock() { EngineFree(block_); }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  void* get() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }

 private:
  void* block_;
};

// Test hook: the next `count` allocations succeed and all after them fail;
// a negative count turns the fault off.
void InjectAllocationFailureAfter(long count);

}  // namespace qvt

#endif
