#pragma once
// The Differences codec's decoder: see DifferenceModel.h.
#include <cstdint>
#include <memory>

#include "engine/codec/Codec.h"

namespace rtp {

uint64_t DifferencesMemory(uint64_t decodedSize, uint64_t oldSize);
std::unique_ptr<CodecDecoder> NewDifferenceDecoder();

}  // namespace rtp
