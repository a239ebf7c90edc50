#pragma once
// The raw streams of a patch being built, compressed: as a whole with one or every setting, or the steps
// of one file alone, to tell which cover style suits it.
#include <cstdint>
#include <vector>

#include "engine/codec/Codec.h"
#include "engine/codec/Lzma.h"
#include "engine/format/PatchFormat.h"
#include "engine/match/Matcher.h"

namespace rtp {

// Where one file's steps lie in each raw stream.
struct Slice {
  uint64_t from[kStreamCount] = {};
  uint64_t length[kStreamCount] = {};
  uint64_t Total() const;
  // Whether these steps are most of the streams' bytes.
  bool IsMostOf(const RawStreams& raw) const;
};

// What the slice's steps come to compressed on their own with one setting.
uint64_t CompressedSize(const RawStreams& raw, const Slice& slice);

// Compresses the streams of `raw`, each with at most `tries` settings (0: every one, after a first try
// with one), on `threads` threads; the total stored size. The literals may be coded after `old`, the
// patch's old space, while the decoders' memory stays within the apply's bound. With one setting, a
// large stream (from `guessFrom` bytes) is only guessed at (EstimateLarge: `info` holds the guess,
// `stored` nothing); every setting codes it. `literals`, when given, is a setting the literals were
// already coded with.
uint64_t Compress(const RawStreams& raw, size_t tries, int threads,
                  std::vector<uint8_t> (&stored)[kStreamCount], StreamInfo (&info)[kStreamCount],
                  ByteView old = ByteView(), const CodedBefore* literals = nullptr,
                  uint64_t guessFrom = kEstimatedStream);

}  // namespace rtp
