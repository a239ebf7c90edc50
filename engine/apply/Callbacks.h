#pragma once
// The forms of the callbacks' parameters, and the engine's own id beside the interface's.
#include <cstdint>

#include "engine/EngineAbi.h"

namespace rtp {

// Sent while the engine waits or checks many small files, so the caller's window stays alive: param
// null. The installer ignores it.
constexpr uint32_t kIdHeartbeat = 10;

// The parameter form of a callback id: an 8-bit text, a pointer to a 32-bit number, or null.
enum class ParamKind { Text, Number, None };
ParamKind ParamKindOf(uint32_t id);

}  // namespace rtp
