#pragma once
// A 32-bit x86 executable as small as the executable transform reads it: headers, one code section
// (`text`, at relative address 0x1000) and, when relocations are given, a relocation section listing
// them (relative addresses of 32-bit absolute addresses).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/base/Bytes.h"

namespace enginetest {

constexpr uint32_t kPeImageBase = 0x400000;
constexpr uint32_t kPeTextRva = 0x1000;

inline std::string SyntheticPe(const std::string& text, const std::vector<uint32_t>& relocations = {}) {
  constexpr uint32_t kTextRaw = 0x400;
  std::string reloc;
  for (size_t i = 0; i < relocations.size();) {
    const uint32_t page = relocations[i] & ~0xFFFu;
    std::string block(8, '\0');
    for (; i < relocations.size() && (relocations[i] & ~0xFFFu) == page; ++i) {
      block += static_cast<char>(relocations[i] & 0xFF);
      block += static_cast<char>(0x30 | ((relocations[i] >> 8) & 0xF));  // type 3: 32-bit absolute
    }
    rtp::WriteU32(reinterpret_cast<uint8_t*>(&block[0]), page);
    rtp::WriteU32(reinterpret_cast<uint8_t*>(&block[4]), static_cast<uint32_t>(block.size()));
    reloc += block;
  }
  const uint32_t size = static_cast<uint32_t>(text.size());
  const uint32_t relocRva = (kPeTextRva + size + 0xFFF) & ~0xFFFu;
  std::string file(kTextRaw, '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(&file[0]);
  p[0] = 'M';
  p[1] = 'Z';
  rtp::WriteU32(p + 0x3C, 0x80);
  std::memcpy(p + 0x80, "PE\0\0", 4);
  rtp::WriteU16(p + 0x84, 0x14C);
  rtp::WriteU16(p + 0x86, reloc.empty() ? 1 : 2);
  rtp::WriteU16(p + 0x94, 0xE0);
  uint8_t* optional = p + 0x98;
  rtp::WriteU16(optional, 0x10B);
  rtp::WriteU32(optional + 28, kPeImageBase);
  rtp::WriteU32(optional + 96 + 5 * 8, reloc.empty() ? 0 : relocRva);
  rtp::WriteU32(optional + 96 + 5 * 8 + 4, static_cast<uint32_t>(reloc.size()));
  const auto section = [&](int n, uint32_t rva, uint32_t length, uint32_t raw, uint32_t flags) {
    uint8_t* s = optional + 0xE0 + 40 * n;
    rtp::WriteU32(s + 8, length);
    rtp::WriteU32(s + 12, rva);
    rtp::WriteU32(s + 16, length);
    rtp::WriteU32(s + 20, raw);
    rtp::WriteU32(s + 36, flags);
  };
  section(0, kPeTextRva, size, kTextRaw, 0x60000020);
  if (!reloc.empty()) section(1, relocRva, static_cast<uint32_t>(reloc.size()), kTextRaw + size, 0x42000040);
  return file + text + reloc;
}

}  // namespace enginetest
