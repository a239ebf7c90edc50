#include "engine/base/Bytes.h"

#include <cstring>

namespace rtp {

bool Buffer::Assign(ByteView bytes) {
  if (!Resize(bytes.size)) return false;
  if (bytes.size) std::memcpy(mData.get(), bytes.data, bytes.size);
  return true;
}

}  // namespace rtp
