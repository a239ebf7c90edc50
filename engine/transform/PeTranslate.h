#pragma once
// The executable transform: old 32-bit Windows executables seen as their new versions would be laid out.
//
// One inserted function moves every later function, and every absolute address (the relocation table
// lists where they are) and every relative call or jump (E8, E9 and 0F 80-8F rel32) that points across
// the change differs between the versions, so exact copies stay short and the difference bytes many. The
// builder learns from a first matching where each part of the old image went (an address map, carried in
// the patch) and matches the new file against the old one with those addresses already moved: absolute
// addresses go through the map, and a branch's displacement is recomputed from where branch and target
// went (patches of format 2 move calls only). The apply moves them the same way as it reads the old file,
// so nothing of this is stored but the map.
//
// What is moved is decided from the old file alone and from a few bytes around each byte, so any range
// of the old file can be translated on its own: the result of a range is the same as that range of the
// whole file translated.
#include <cstdint>
#include <vector>

#include "engine/base/Bytes.h"
#include "engine/base/Stream.h"

namespace rtp {

// Where an old relative virtual address went: the last segment starting at or before it gives the shift.
struct AddressMap {
  uint32_t newImageBase = 0;
  std::vector<uint32_t> starts;  // old relative virtual addresses, rising
  std::vector<int32_t> shifts;
  bool jumps = true;  // jumps move too, not only calls
  uint32_t Map(uint32_t rva) const;
};

// The parts of an old executable the transform needs.
struct PeLayout {
  struct Section {
    uint32_t rva = 0, virtualSize = 0, raw = 0, rawSize = 0;
    bool code = false;
  };
  uint32_t imageBase = 0;
  std::vector<Section> sections;
  std::vector<uint32_t> relocations;  // file offsets of 32-bit absolute addresses, rising
  bool RvaOfOffset(uint64_t offset, uint32_t* rva) const;
  bool OffsetOfRva(uint32_t rva, uint64_t* offset) const;
  bool HoldsRva(uint32_t rva) const;
};

// At most this many relocations are followed: the apply keeps them in memory.
constexpr size_t kMaxRelocations = size_t{4} << 20;
// Bytes before and after a range that its translation looks at.
constexpr size_t kTranslateMargin = 12;

// Reads the layout of a 32-bit x86 executable; false for anything else or anything malformed.
bool ParsePe(Source& file, PeLayout* out);

// Translates the old bytes [pos, pos + length). `raw` holds the old file's bytes from `rawAt` on, at
// least kTranslateMargin on both sides of the range where the file has them; `out` gets `length` bytes.
void TranslateRange(const PeLayout& old, const AddressMap& map, const uint8_t* raw, uint64_t rawAt,
                    uint64_t rawEnd, uint64_t pos, size_t length, uint8_t* out);

// The address map from matches between the old and new files: pairs (old offset, new offset, length).
struct OffsetPair {
  uint64_t oldOffset, newOffset, length;
};
bool BuildAddressMap(const PeLayout& old, const PeLayout& fresh, const std::vector<OffsetPair>& matches,
                     AddressMap* out);

}  // namespace rtp
