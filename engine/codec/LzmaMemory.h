#pragma once
// What the LZMA SDK's encoder and decoder allocate through: the C heap, where a failure is a null the
// SDK reports as SZ_ERROR_MEM.
#include <cstddef>
#include <cstdlib>

extern "C" {
#include <Types.h>
}

namespace rtp {

inline void* LzmaAllocBytes(void*, size_t size) {
  return std::malloc(size);
}
inline void LzmaFreeBytes(void*, void* address) {
  std::free(address);
}
inline ISzAlloc* LzmaHeap() {
  static ISzAlloc heap = {LzmaAllocBytes, LzmaFreeBytes};
  return &heap;
}

}  // namespace rtp
