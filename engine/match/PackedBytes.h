#pragma once
// Whether bytes look already compressed (images, fonts, archives): an index finds nothing in them but
// runs they share whole, so the builder neither indexes nor matches such a file when runs of equal
// bytes give it little. Linked into the builder only.
#include "engine/base/Bytes.h"

namespace rtp {

// True when two bytes drawn from `bytes` are equal at most twice as often as two random bytes (packed
// images and fonts 1.0 to 1.4 times, executables, code and packed game data 7 and more). Files under
// 64 KiB are never packed: matching them costs little. Counted in integers, so the builds of every
// platform agree.
bool LooksPacked(ByteView bytes);

// True when at least an eighth of the bytes `a` and `b` hold at the same offsets are equal (unrelated
// packed bytes: one in 256). Packed bytes edited in place all over share no long run with their old
// version, yet are that version with differences.
bool AgreeInPlace(ByteView a, ByteView b);

}  // namespace rtp
