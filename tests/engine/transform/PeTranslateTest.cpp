// The executable transform: any piece of an old executable translates as the same piece of the whole file
// does (the apply reads in pieces), and a patch between two builds of an executable whose code moved is
// read through it, is smaller than without it, and still gives the new build byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "SyntheticPe.h"
#include "engine/base/Bytes.h"
#include "engine/format/PatchFormat.h"
#include "engine/transform/PeTranslate.h"

namespace {

using enginetest::BuildBetween;
using enginetest::TempFolder;
using enginetest::Tree;
using enginetest::View;

// A program as a linker sees it: functions of random code, each calling or jumping to others (E8, E9 or
// 0F 85 rel32) and holding absolute pointers to others (listed in the relocation table).
struct Function {
  std::string code;
  std::vector<std::pair<size_t, size_t>> calls, pointers;  // (offset in code, target function)
};
const char* const kBranches[] = {"\xE8", "\xE9", "\x0F\x85"};

std::vector<Function> Program(uint32_t seed, size_t count) {
  std::mt19937 random(seed);
  std::vector<Function> functions(count);
  for (Function& f : functions) {
    f.code.resize(200 + random() % 400);
    for (char& c : f.code) c = static_cast<char>(random() % 0xE0);  // no stray E8 or E9
    for (size_t at = 8; at + 12 < f.code.size(); at += 40 + random() % 40) {
      (random() % 2 ? f.calls : f.pointers).emplace_back(at, random() % count);
      const size_t opcode = at % 3 == 2 ? 2 : 1;
      if (!f.calls.empty() && f.calls.back().first == at)
        f.code.replace(at, opcode, kBranches[at % 3], opcode);
    }
  }
  return functions;
}

// Lays the program out as a PE32 file, calls and pointers resolved as a linker would.
std::string Link(const std::vector<Function>& functions) {
  std::vector<uint32_t> start;
  uint32_t size = 0;
  for (const Function& f : functions) {
    start.push_back(enginetest::kPeTextRva + size);
    size += static_cast<uint32_t>(f.code.size());
  }
  std::string text;
  std::vector<uint32_t> relocations;
  for (size_t i = 0; i < functions.size(); ++i) {
    std::string code = functions[i].code;
    uint8_t* p = reinterpret_cast<uint8_t*>(&code[0]);
    for (const auto& call : functions[i].calls) {
      const uint32_t length = call.first % 3 == 2 ? 6 : 5;
      rtp::WriteU32(p + call.first + length - 4,
                    start[call.second] - (start[i] + static_cast<uint32_t>(call.first) + length));
    }
    for (const auto& pointer : functions[i].pointers) {
      rtp::WriteU32(p + pointer.first, enginetest::kPeImageBase + start[pointer.second]);
      relocations.push_back(start[i] + static_cast<uint32_t>(pointer.first));
    }
    text += code;
  }
  return enginetest::SyntheticPe(text, relocations);
}

TEST(PeTranslate, AnyPieceTranslatesAsTheWholeFileDoes) {
  const std::string file = Link(Program(7, 60));
  rtp::MemorySource source(View(file));
  rtp::PeLayout layout;
  ASSERT_TRUE(rtp::ParsePe(source, &layout));
  EXPECT_GT(layout.relocations.size(), 100u);
  rtp::AddressMap map;
  map.newImageBase = enginetest::kPeImageBase;
  map.starts = {0, enginetest::kPeTextRva + 3000, enginetest::kPeTextRva + 9000};
  map.shifts = {0, 64, -32};
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(file.data());
  std::vector<uint8_t> whole(file.size());
  rtp::TranslateRange(layout, map, raw, 0, file.size(), 0, file.size(), whole.data());
  EXPECT_NE(std::memcmp(whole.data(), raw, file.size()), 0) << "addresses moved";
  // Patches of format 2 move calls only.
  rtp::AddressMap callsOnly = map;
  callsOnly.jumps = false;
  std::vector<uint8_t> calls(file.size());
  rtp::TranslateRange(layout, callsOnly, raw, 0, file.size(), 0, file.size(), calls.data());
  EXPECT_NE(calls, whole);
  std::mt19937 random(9);
  for (int trial = 0; trial < 300; ++trial) {
    const uint64_t pos = random() % file.size();
    const size_t length = 1 + random() % std::min<size_t>(600, file.size() - pos);
    const uint64_t rawAt = pos >= rtp::kTranslateMargin ? pos - rtp::kTranslateMargin : 0;
    const uint64_t rawEnd = std::min<uint64_t>(file.size(), pos + length + rtp::kTranslateMargin);
    std::vector<uint8_t> piece(length);
    rtp::TranslateRange(layout, map, raw + rawAt, rawAt, rawEnd, pos, length, piece.data());
    ASSERT_EQ(std::memcmp(piece.data(), whole.data() + pos, length), 0) << pos << "+" << length;
  }
}

TEST(PeTranslate, MovedCodeCostsLessWithTheTransformAndComesOutExact) {
  std::vector<Function> program = Program(11, 120);
  const std::string old = Link(program);
  // Small functions added in many places move the code after each by another amount.
  for (int at = 118; at >= 2; at -= 3) {
    Function added;
    added.code = std::string(static_cast<size_t>(1 + at % 13), '\x90');
    program.insert(program.begin() + at, added);
  }
  const std::string fresh = Link(program);
  std::string plainOld = old, plainNew = fresh;
  plainOld[0] = plainNew[0] = 'X';  // no longer executables: matched as bytes
  TempFolder work;
  const std::string moved = BuildBetween(work.path() / "pe", {{"game.dll", old}}, {{"game.dll", fresh}});
  const std::string plain =
      BuildBetween(work.path() / "plain", {{"game.dll", plainOld}}, {{"game.dll", plainNew}});
  rtp::MemorySource source(View(moved));
  rtp::Patch parsed;
  ASSERT_TRUE(rtp::ParsePatch(source, &parsed, nullptr));
  ASSERT_EQ(parsed.sources.size(), 1u);
  EXPECT_TRUE(parsed.sources[0].translated);
  // Both pay for the relocation table's own changes; only the transform's patch has no moved addresses.
  // (LZMA after the old space finds much of the rest in a program this small.)
  EXPECT_LT(moved.size(), plain.size()) << moved.size() << " against " << plain.size();

  enginetest::WriteTree(work.path() / "client", {{"game.dll", old}});
  enginetest::RecordingListener listener;
  rtp::PosixFileSystem client((work.path() / "client").string());
  ASSERT_EQ(rtp::ApplyPatch(View(moved), client, listener), rtp::kOk) << listener.Dump();
  EXPECT_EQ(enginetest::ReadTree(work.path() / "client"), (Tree{{"game.dll", fresh}}));
}

}  // namespace
