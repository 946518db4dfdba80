#include "Heap.h"

#include <atomic>
#include <cstdlib>

namespace qvt {
namespace {

std::atomic<long> allocationsLeft{-1};

bool InjectedFailure() {
  long left = allocationsLeft.load(std::memory_order_relaxed);
  while (left >= 0) {
    if (left == 0) return true;
    if (allocationsLeft.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
      return false;
    }
  }
  return false;
}

}  // namespace

void* EngineAlloc(std::size_t size) {
  if (InjectedFailure()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void EngineFree(void* block) { std::free(block); }

void InjectAllocationFailureAfter(long count) {
  allocationsLeft.store(count < 0 ? -1 : count, std::memory_order_relaxed);
}

}  // namespace qvt
