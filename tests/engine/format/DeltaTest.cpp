// The delta: whatever two files it is made from, applying it to the old one gives the new one exactly;
// similar files give small deltas; instructions that reach outside either file are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/format/Delta.h"

namespace {

using enginetest::RandomBytes;
using enginetest::View;

std::string RoundTrip(const std::string& before, const std::string& after, size_t* deltaSize = nullptr) {
  std::vector<uint8_t> delta;
  EXPECT_TRUE(rtp::MakeDelta(View(before), View(after), &delta));
  if (deltaSize) *deltaSize = delta.size();
  const rtp::ByteView instructions(delta.data(), delta.size());
  EXPECT_TRUE(rtp::CheckDelta(instructions, static_cast<uint32_t>(before.size()),
                              static_cast<uint32_t>(after.size())));
  std::string result(after.size(), '\0');
  EXPECT_TRUE(
      rtp::ApplyDelta(View(before), instructions, reinterpret_cast<uint8_t*>(&result[0]), result.size()));
  return result;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

TEST(PatchDelta, RebuildsTheNewFileExactlyForEveryKindOfChange) {
  const std::string base = RandomBytes(11, 20000);
  std::string inserted = base;
  inserted.insert(7000, RandomBytes(12, 333));
  std::string removed = base;
  removed.erase(3000, 5000);
  const std::string swapped = base.substr(10000) + base.substr(0, 10000);
  std::string sprinkled = base;
  for (size_t i = 100; i < sprinkled.size(); i += 977) sprinkled[i] = static_cast<char>(~sprinkled[i]);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {base, base},
      {"", base},
      {base, ""},
      {"", ""},
      {base, inserted},
      {base, removed},
      {base, swapped},
      {base, sprinkled},
      {base, RandomBytes(13, 20000)},
      {base, base + base},
      {base, "prefix" + base},
      {std::string(50000, '\0'), std::string(60000, '\0')},
      {std::string(100, 'a'), std::string(17, 'a')},
      {"short", "shorter"},
      {RandomBytes(14, 15), RandomBytes(14, 16)},
  };
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(RoundTrip(cases[i].first, cases[i].second), cases[i].second) << i;
}

TEST(PatchDelta, AFewChangedBytesInALargeFileGiveASmallDelta) {
  const std::string before = RandomBytes(21, 1 << 20);
  std::string after = before;
  after.replace(123456, 100, RandomBytes(22, 100));
  after.insert(800000, "inserted words");
  size_t size = 0;
  EXPECT_EQ(RoundTrip(before, after, &size), after);
  EXPECT_LT(size, 400u);
}

TEST(PatchDelta, InstructionsOutsideEitherFileAreRefused) {
  const std::string old = "0123456789abcdefghij";  // 20 bytes
  struct Case {
    const char* what;
    std::string delta;
    uint32_t newSize;
  };
  const std::vector<Case> cases = {
      {"empty", "", 0},
      {"no end", Bytes({0x02, 0x01, 'x'}), 1},
      {"bytes after the end", Bytes({0x02, 0x01, 'x', 0x00, 0x00}), 1},
      {"copy past the old file", Bytes({0x01, 0x10, 0x05, 0x00}), 5},
      {"copy of nothing", Bytes({0x01, 0x00, 0x00, 0x00}), 0},
      {"insert of nothing", Bytes({0x02, 0x00, 0x00}), 0},
      {"insert past the payload", Bytes({0x02, 0x05, 'a', 'b', 0x00}), 5},
      {"more than the new size", Bytes({0x01, 0x00, 0x0A, 0x00}), 9},
      {"less than the new size", Bytes({0x01, 0x00, 0x0A, 0x00}), 11},
      {"unknown instruction", Bytes({0x03, 0x00}), 0},
      {"number of six bytes", Bytes({0x01, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x01, 0x00}), 1},
      {"number beyond 32 bits", Bytes({0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F, 0x00}), 1},
      {"offset wrapping past 2^32", Bytes({0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x02, 0x00}), 2},
      {"length of 2^32 + 1, 1 if cut to 32 bits", Bytes({0x01, 0x00, 0x81, 0x80, 0x80, 0x80, 0x10, 0x00}), 1},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(rtp::CheckDelta(View(c.delta), 20, c.newSize)) << c.what;
    std::string out(c.newSize, '\0');
    EXPECT_FALSE(rtp::ApplyDelta(View(old), View(c.delta), reinterpret_cast<uint8_t*>(&out[0]), out.size()))
        << c.what;
  }
  const std::string good = Bytes({0x01, 0x0A, 0x05, 0x02, 0x02, '!', '?', 0x00});
  EXPECT_TRUE(rtp::CheckDelta(View(good), 20, 7));
  std::string out(7, '\0');
  ASSERT_TRUE(rtp::ApplyDelta(View(old), View(good), reinterpret_cast<uint8_t*>(&out[0]), out.size()));
  EXPECT_EQ(out, "abcde!?");
}

TEST(PatchDelta, AnInsertMayNotTakeItsBytesFromBeyondItsPayload) {
  // The payload is the first four bytes of the patch; the next four would complete the insert and end
  // the delta.
  const std::string bytes = Bytes({0x02, 0x05, 'a', 'b', 'c', 'd', 'e', 0x00});
  rtp::MemorySource patch(View(bytes));
  rtp::StreamReader reader(patch, 0, bytes.size());
  EXPECT_EQ(rtp::CheckDelta(reader, 4, 20, 5), rtp::kErrCorrupt);
  rtp::MemorySource old(View("0123456789abcdefghij"));
  rtp::MemorySink out;
  rtp::SinkWriter writer(out, 0);
  EXPECT_EQ(rtp::ApplyDelta(patch, 0, 4, old, 5, writer), rtp::kErrCorrupt);
  EXPECT_EQ(writer.Count(), 0u) << "bytes of the insert were put out";
}

TEST(PatchDelta, NumbersFrom128OnTakeTwoBytes) {
  const std::string old = RandomBytes(15, 300);
  std::vector<uint8_t> delta;
  ASSERT_TRUE(rtp::MakeDelta(View(old), View(old.substr(128, 128)), &delta));
  EXPECT_EQ(delta, (std::vector<uint8_t>{0x01, 0x80, 0x01, 0x80, 0x01, 0x00}));
}

TEST(PatchDelta, FilesBeyondTheBuffersAndTheSmallestBlockComeOutExactAndSmall) {
  // 16 MiB + 17 bytes of old file makes blocks of 17 bytes; the new file starts with more new bytes
  // than are held before they go out, and its changes straddle the buffers' ends.
  const std::string before = RandomBytes(16, (size_t{16} << 20) + 17);
  std::string after = RandomBytes(17, rtp::kChunkSize + 4096) + before;
  for (size_t at = rtp::kChunkSize - 3; at < after.size(); at += 3 * rtp::kChunkSize + 1) after[at] ^= 0x55;
  size_t size = 0;
  EXPECT_EQ(RoundTrip(before, after, &size), after);
  EXPECT_LT(size, rtp::kChunkSize + 4096 + 2000);
}

}  // namespace
