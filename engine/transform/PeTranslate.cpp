#include "engine/transform/PeTranslate.h"

#include <algorithm>
#include <cstring>

namespace rtp {

namespace {

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kOptionalMagic32 = 0x10B;
constexpr uint32_t kSectionCode = 0x20;
constexpr uint32_t kSectionExecute = 0x20000000;
constexpr size_t kMaxSections = 96;
constexpr uint16_t kRelocHighLow = 3;
// Matches shorter than this say little about where a part of the image went.
constexpr uint64_t kMapMinMatch = 64;

bool ReadAt(Source& file, uint64_t offset, void* out, size_t length) {
  return offset <= file.Size() && length <= file.Size() - offset &&
         file.ReadAt(offset, static_cast<uint8_t*>(out), length);
}

uint32_t Word(const uint8_t* p) {
  return ReadU32(p);
}

}  // namespace

uint32_t AddressMap::Map(uint32_t rva) const {
  const auto it = std::upper_bound(starts.begin(), starts.end(), rva);
  if (it == starts.begin()) return rva;
  return static_cast<uint32_t>(rva +
                               static_cast<uint32_t>(shifts[static_cast<size_t>(it - starts.begin()) - 1]));
}

bool PeLayout::RvaOfOffset(uint64_t offset, uint32_t* rva) const {
  for (const Section& s : sections)
    if (offset >= s.raw && offset < uint64_t{s.raw} + std::min(s.rawSize, std::max(s.virtualSize, 1u))) {
      *rva = static_cast<uint32_t>(s.rva + (offset - s.raw));
      return true;
    }
  return false;
}

bool PeLayout::HoldsRva(uint32_t rva) const {
  for (const Section& s : sections)
    if (rva >= s.rva && rva - s.rva < std::max(s.virtualSize, s.rawSize)) return true;
  return false;
}

bool PeLayout::OffsetOfRva(uint32_t rva, uint64_t* offset) const {
  for (const Section& s : sections)
    if (rva >= s.rva && rva - s.rva < s.rawSize) {
      *offset = uint64_t{s.raw} + (rva - s.rva);
      return true;
    }
  return false;
}

bool ParsePe(Source& file, PeLayout* out) {
  *out = PeLayout();
  uint8_t dos[64];
  if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  const uint32_t pe = Word(dos + 0x3C);
  uint8_t head[24 + 96 + 16 * 8];
  if (!ReadAt(file, pe, head, sizeof head) || std::memcmp(head, "PE\0\0", 4) != 0) return false;
  if (ReadU16(head + 4) != kMachineI386 || ReadU16(head + 24) != kOptionalMagic32) return false;
  const size_t sectionCount = ReadU16(head + 6);
  const size_t optionalSize = ReadU16(head + 20);
  if (sectionCount == 0 || sectionCount > kMaxSections || optionalSize < 96 + 6 * 8) return false;
  out->imageBase = Word(head + 24 + 28);
  const uint32_t relocRva = Word(head + 24 + 96 + 5 * 8);
  const uint32_t relocSize = Word(head + 24 + 96 + 5 * 8 + 4);
  std::vector<uint8_t> table(sectionCount * 40);
  if (!ReadAt(file, uint64_t{pe} + 24 + optionalSize, table.data(), table.size())) return false;
  for (size_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = table.data() + 40 * i;
    PeLayout::Section section;
    section.virtualSize = Word(s + 8);
    section.rva = Word(s + 12);
    section.rawSize = Word(s + 16);
    section.raw = Word(s + 20);
    const uint32_t flags = Word(s + 36);
    section.code = (flags & kSectionCode) && (flags & kSectionExecute);
    if (uint64_t{section.raw} + section.rawSize > file.Size()) section.rawSize = 0;
    out->sections.push_back(section);
  }
  uint64_t relocAt;
  if (relocSize == 0 || !out->OffsetOfRva(relocRva, &relocAt)) return true;
  std::vector<uint8_t> relocs(std::min<uint64_t>(relocSize, file.Size() - std::min(file.Size(), relocAt)));
  if (relocs.empty() || !ReadAt(file, relocAt, relocs.data(), relocs.size())) return true;
  for (size_t at = 0; at + 8 <= relocs.size();) {
    const uint32_t page = Word(&relocs[at]);
    const uint32_t blockSize = Word(&relocs[at + 4]);
    if (blockSize < 8 || blockSize > relocs.size() - at) break;
    for (size_t k = at + 8; k + 2 <= at + blockSize; k += 2) {
      const uint16_t entry = ReadU16(&relocs[k]);
      uint64_t offset;
      if ((entry >> 12) != kRelocHighLow || !out->OffsetOfRva(page + (entry & 0xFFF), &offset)) continue;
      if (offset + 4 > file.Size()) continue;
      if (out->relocations.size() >= kMaxRelocations) return false;
      out->relocations.push_back(static_cast<uint32_t>(offset));
    }
    at += blockSize;
  }
  std::sort(out->relocations.begin(), out->relocations.end());
  // Overlapping entries would make a byte belong to two addresses: keep the first of each overlap.
  std::vector<uint32_t> kept;
  for (uint32_t offset : out->relocations)
    if (kept.empty() || offset >= kept.back() + 4) kept.push_back(offset);
  out->relocations.swap(kept);
  return true;
}

void TranslateRange(const PeLayout& old, const AddressMap& map, const uint8_t* raw, uint64_t rawAt,
                    uint64_t rawEnd, uint64_t pos, size_t length, uint8_t* out) {
  std::memcpy(out, raw + (pos - rawAt), length);
  const uint64_t end = pos + length;
  const auto put = [&](uint64_t wordAt, uint32_t value) {  // the bytes of a word that lie in the range
    for (int b = 0; b < 4; ++b) {
      const uint64_t at = wordAt + static_cast<uint64_t>(b);
      if (at >= pos && at < end) out[at - pos] = static_cast<uint8_t>(value >> (8 * b));
    }
  };
  const auto rawWord = [&](uint64_t at) { return Word(raw + (at - rawAt)); };
  // Relative branches in code sections: a call (E8), jump (E9) or conditional jump (0F 80-8F) whose
  // displacement, its last four bytes, leads to a target inside the same code section. Of branches that
  // overlap, the first is taken, as a processor reading forward would: a site counts unless a branch that
  // starts one of the five bytes before it reaches over it (bytes 10 back and 6 on, so any piece of the
  // file decides as the whole file does). Relocations win over branches.
  for (const PeLayout::Section& s : old.sections) {
    if (!s.code || s.rawSize == 0) continue;
    const uint64_t sectionEnd = std::min<uint64_t>(uint64_t{s.raw} + s.rawSize, rawEnd);
    // The length of the branch that starts at `site` (0 for none): its displacement is its last four bytes.
    const auto branch = [&](uint64_t site) -> uint32_t {
      if (site < s.raw || site < rawAt || site + 5 > sectionEnd) return 0;
      const uint8_t op = raw[site - rawAt];
      uint32_t length = 0;
      if (op == 0xE8 || (op == 0xE9 && map.jumps))
        length = 5;
      else if (op == 0x0F && map.jumps && site + 6 <= sectionEnd && (raw[site + 1 - rawAt] & 0xF0) == 0x80)
        length = 6;
      if (!length) return 0;
      const uint32_t siteRva = static_cast<uint32_t>(s.rva + (site - s.raw));
      return siteRva + length + rawWord(site + length - 4) - s.rva < s.rawSize ? length : 0;
    };
    const uint64_t from = std::max<uint64_t>(s.raw, pos >= 5 ? pos - 5 : 0);
    for (uint64_t site = from; site < std::min(end, sectionEnd); ++site) {
      const uint32_t length = branch(site);
      if (!length) continue;
      bool covered = false;
      for (uint64_t back = 1; back <= 5 && back <= site && !covered; ++back)
        covered = branch(site - back) > back;
      if (covered) continue;
      const uint32_t siteRva = static_cast<uint32_t>(s.rva + (site - s.raw));
      put(site + length - 4,
          map.Map(siteRva + length + rawWord(site + length - 4)) - (map.Map(siteRva) + length));
    }
  }
  const auto first = std::lower_bound(old.relocations.begin(), old.relocations.end(),
                                      static_cast<uint32_t>(pos >= 3 ? pos - 3 : 0));
  for (auto it = first; it != old.relocations.end() && *it < end; ++it) {
    const uint32_t value = rawWord(*it);
    const uint32_t rva = value - old.imageBase;
    if (!old.HoldsRva(rva)) continue;
    put(*it, map.Map(rva) + map.newImageBase);
  }
}

bool BuildAddressMap(const PeLayout& old, const PeLayout& fresh, const std::vector<OffsetPair>& matches,
                     AddressMap* out) {
  struct Piece {
    uint32_t oldRva, length;
    int32_t shift;
  };
  std::vector<Piece> pieces;
  for (const OffsetPair& m : matches) {
    uint32_t oldRva, newRva;
    if (m.length < kMapMinMatch || !old.RvaOfOffset(m.oldOffset, &oldRva) ||
        !fresh.RvaOfOffset(m.newOffset, &newRva))
      continue;
    pieces.push_back({oldRva, static_cast<uint32_t>(std::min<uint64_t>(m.length, 0xFFFFFFFFu)),
                      static_cast<int32_t>(newRva - oldRva)});
  }
  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
    return a.oldRva != b.oldRva ? a.oldRva < b.oldRva : a.length > b.length;
  });
  *out = AddressMap();
  out->newImageBase = fresh.imageBase;
  uint64_t covered = 0;  // the old addresses up to here have their shift
  for (const Piece& p : pieces) {
    if (uint64_t{p.oldRva} + p.length <= covered) continue;
    const uint32_t start = static_cast<uint32_t>(std::max<uint64_t>(p.oldRva, covered));
    if (out->shifts.empty() || out->shifts.back() != p.shift) {
      out->starts.push_back(start);
      out->shifts.push_back(p.shift);
    }
    covered = uint64_t{p.oldRva} + p.length;
  }
  return !out->starts.empty();
}

}  // namespace rtp
