// Fuzzes the reading and applying of version-2 patches: the directory, the stream decoders, the steps
// that build the new files and the executable transform of old files. Inputs that look like a version-2
// patch get their header and directory checksums made right first, and the streams are decoded whether
// or not their checksums hold, so the fuzzer reaches the decoders instead of stopping at a CRC-32C.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "engine/base/Crc32c.h"
#include "engine/format/FormatV2.h"
#include "engine/apply/TreeApply.h"

namespace {

// Counts what a file's build produces, up to a bound.
class CountingSink : public rtp::BuildSink {
 public:
  bool Put(rtp::ByteView bytes) override {
    mCount += bytes.size;
    return mCount < (64u << 20);
  }

 private:
  uint64_t mCount = 0;
};

// A small executable whose layout the transform reads: an MZ header, a PE header for i386 with one code
// section, and the fuzzer's bytes as its contents.
std::string PlantedExecutable(size_t size, uint32_t seed) {
  std::string file(std::max<size_t>(size, 0x400), '\0');
  for (size_t i = 0x200; i < file.size(); ++i)
    file[i] = static_cast<char>((i * 131 + seed) % 251 == 0 ? 0xE8 : i);
  uint8_t* p = reinterpret_cast<uint8_t*>(&file[0]);
  p[0] = 'M';
  p[1] = 'Z';
  rtp::WriteU32(p + 0x3C, 0x80);
  std::memcpy(p + 0x80, "PE\0\0", 4);
  rtp::WriteU16(p + 0x84, 0x14C);
  rtp::WriteU16(p + 0x86, 1);
  rtp::WriteU16(p + 0x94, 0xE0);
  rtp::WriteU16(p + 0x98, 0x10B);
  rtp::WriteU32(p + 0x98 + 28, 0x400000);
  uint8_t* section = p + 0x98 + 0xE0;
  rtp::WriteU32(section + 8, static_cast<uint32_t>(file.size() - 0x200));
  rtp::WriteU32(section + 12, 0x1000);
  rtp::WriteU32(section + 16, static_cast<uint32_t>(file.size() - 0x200));
  rtp::WriteU32(section + 20, 0x200);
  rtp::WriteU32(section + 36, 0x60000020);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (size >= rtp::kHeaderSize2 && std::memcmp(data, rtp::kMagic, sizeof rtp::kMagic) == 0) {
    bytes[8] = rtp::kFormatVersion2;
    bytes[9] = 0;
    const uint32_t stored = rtp::ReadU32(&bytes[12]);
    if (stored <= size - rtp::kHeaderSize2)
      rtp::WriteU32(&bytes[20], rtp::Crc32c(rtp::ByteView(bytes.data() + rtp::kHeaderSize2, stored),
                                            rtp::Crc32c(rtp::ByteView(bytes.data(), 20))));
  }
  rtp::MemorySource source(rtp::ByteView(bytes.data(), bytes.size()));
  rtp::PatchV2 patch;
  rtp::FormatError error;
  if (!rtp::ParsePatchV2(source, &patch, &error, false)) return 0;
  rtp::ComputeCostV2(patch);

  // Old files of the expected sizes where that is cheap; translated ones as small executables.
  fuzzsupport::MemoryFileSystem client;
  for (size_t i = 0; i < patch.sources.size(); ++i) {
    const rtp::SourceFile& old = patch.sources[i];
    if (old.size > (1u << 16) || i % 5 == 4) continue;
    client.Put(old.name, old.translated
                             ? PlantedExecutable(static_cast<size_t>(old.size), static_cast<uint32_t>(i))
                             : std::string(static_cast<size_t>(old.size), '\x5A'));
  }
  rtp::TreeBuilder builder(patch, source, client);
  if (builder.Open() == rtp::kOk) {
    for (const rtp::TreeFile& file : patch.files) {
      if (file.kind != rtp::FileKind::Write) continue;
      CountingSink sink;
      std::string detail;
      if (builder.Build(file, sink, &detail) != rtp::kOk) break;
    }
    builder.Finish();
  }
  fuzzsupport::CountingListener listener;
  rtp::ApplyPatch(rtp::ByteView(bytes.data(), bytes.size()), client, listener);
  return 0;
}
