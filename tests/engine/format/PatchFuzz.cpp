// Fuzzes the reading and applying of patches: the directory, the stream decoders, the steps that build
// the new files and the executable transform of old files. Inputs that look like a patch get their
// header and directory checksums made right first, and the streams are decoded whether
// or not their checksums hold, so the fuzzer reaches the decoders instead of stopping at a CRC-32C.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "SyntheticPe.h"
#include "engine/base/Crc32c.h"
#include "engine/base/Varint.h"
#include "engine/format/PatchFormat.h"
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

// An executable of the expected size for a translated old file: code with calls here and there.
std::string PlantedExecutable(size_t size, uint32_t seed) {
  std::string text(size > 0x400 ? size - 0x400 : 1, '\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char>((i * 131 + seed) % 251 == 0 ? 0xE8 : i);
  return enginetest::SyntheticPe(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (size >= rtp::kMaxHeaderSize && std::memcmp(data, rtp::kMagic, sizeof rtp::kMagic) == 0) {
    bytes[8] = rtp::kFormatVersion;
    bytes[9] = 0;
    rtp::VarintReader sizes(&bytes[11], rtp::kMaxHeaderSize - 11);
    const uint64_t stored = sizes.Number();
    sizes.Number();
    const size_t crcAt = rtp::kMaxHeaderSize - sizes.Left();
    if (sizes.Ok() && crcAt + 4 <= size && stored <= size - crcAt - 4)
      rtp::WriteU32(&bytes[crcAt],
                    rtp::Crc32c(rtp::ByteView(bytes.data() + crcAt + 4, static_cast<size_t>(stored)),
                                rtp::Crc32c(rtp::ByteView(bytes.data(), crcAt))));
  }
  rtp::MemorySource source(rtp::ByteView(bytes.data(), bytes.size()));
  rtp::Patch patch;
  rtp::FormatError error;
  if (!rtp::ParsePatch(source, &patch, &error, false)) return 0;
  rtp::ComputeCost(patch);

  // Old files of the expected sizes where that is cheap; translated ones as small executables.
  fuzzsupport::MemoryFileSystem client;
  for (size_t i = 0; i < patch.sources.size(); ++i) {
    const rtp::SourceFile& old = patch.sources[i];
    if (old.size > (1u << 16) || i % 5 == 4) continue;
    client.Put(old.name, old.translated
                             ? PlantedExecutable(static_cast<size_t>(old.size), static_cast<uint32_t>(i))
                             : std::string(static_cast<size_t>(old.size), '\x5A'));
  }
  struct ByName : rtp::OldFiles {
    ByName(const rtp::Patch& p, rtp::FileSystem& f) : patch(p), fs(f) {}
    rtp::FsStatus Open(size_t s, std::unique_ptr<rtp::Source>* out) override {
      return fs.OpenRead(patch.sources[s].name, out);
    }
    const rtp::Patch& patch;
    rtp::FileSystem& fs;
  } old(patch, client);
  rtp::TreeBuilder builder(patch, source, old);
  std::string opened;
  if (builder.Open([] { return true; }, &opened) == rtp::kOk) {
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
