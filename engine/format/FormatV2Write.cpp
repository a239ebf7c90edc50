#include <cstring>

#include "engine/base/Crc32c.h"
#include "engine/base/Varint.h"
#include "engine/codec/Codec.h"
#include "engine/format/FormatV2.h"

// Writing a version-2 patch: the builder's half of the format.
namespace rtp {

namespace {

void PutText(std::vector<uint8_t>* out, const std::string& text) {
  PutVarint(out, text.size());
  out->insert(out->end(), text.begin(), text.end());
}

std::vector<uint8_t> EncodeDirectory(const PatchV2& patch) {
  std::vector<uint8_t> d;
  PutVarint(&d, patch.sources.size());
  for (const SourceFile& source : patch.sources) {
    PutText(&d, source.name);
    PutVarint(&d, source.size);
  }
  PutVarint(&d, patch.files.size());
  for (const TreeFile& file : patch.files) {
    PutVarint(&d, static_cast<uint8_t>(file.kind));
    PutVarint(&d, file.oldSource);
    // A file of the same name as the old one it replaces leaves its name out.
    PutText(&d, file.oldSource && patch.sources[file.oldSource - 1].name == file.name ? std::string()
                                                                                      : file.name);
    if (file.kind == FileKind::Write) {
      PutVarint(&d, file.newSize);
      PutVarint(&d, file.newCrc);
    }
  }
  for (const StreamInfo& stream : patch.streams) {
    PutVarint(&d, static_cast<uint8_t>(stream.codec));
    PutVarint(&d, stream.storedSize);
    PutVarint(&d, stream.decodedSize);
    PutVarint(&d, stream.crc);
  }
  size_t translations = 0;
  for (const SourceFile& source : patch.sources) translations += source.translated;
  PutVarint(&d, translations);
  for (size_t i = 0; i < patch.sources.size(); ++i) {
    const SourceFile& source = patch.sources[i];
    if (!source.translated) continue;
    PutVarint(&d, i + 1);
    PutVarint(&d, source.map.newImageBase);
    PutVarint(&d, source.map.starts.size());
    int64_t start = 0, shift = 0;
    for (size_t k = 0; k < source.map.starts.size(); ++k) {
      PutVarint(&d, FoldSigned(int64_t{source.map.starts[k]} - start));
      PutVarint(&d, FoldSigned(int64_t{source.map.shifts[k]} - shift));
      start = source.map.starts[k];
      shift = source.map.shifts[k];
    }
  }
  // The test controls, all in one place at the end.
  bool delays = false;
  for (const TreeFile& file : patch.files) delays = delays || file.delayMs;
  const bool controls = patch.header.flags || delays || !patch.notices.empty();
  PutVarint(&d, controls ? 1 : 0);
  if (!controls) return d;
  PutVarint(&d, patch.header.flags);
  PutVarint(&d, patch.header.biggest);
  PutVarint(&d, patch.header.announced);
  for (const TreeFile& file : patch.files) PutVarint(&d, file.delayMs);
  PutVarint(&d, patch.notices.size());
  for (const SlotNotice& notice : patch.notices) {
    PutVarint(&d, notice.slot);
    PutVarint(&d, notice.id);
    PutVarint(&d, notice.delayMs);
    PutText(&d, notice.payload);
  }
  return d;
}

}  // namespace

bool WritePatchV2(const PatchV2& patch, const std::vector<uint8_t> (&streams)[kStreamCount], Sink& out,
                  uint64_t* size) {
  const std::vector<uint8_t> plain = EncodeDirectory(patch);
  if (plain.size() > kMaxDirectory) return false;
  std::vector<uint8_t> stored;
  Codec codec;
  if (!EncodeStream(ByteView(plain.data(), plain.size()), kMaxDictionary, &stored, &codec)) return false;
  uint8_t h[kHeaderSize2] = {};
  std::memcpy(h, kMagic, sizeof kMagic);
  WriteU16(h + 8, kFormatVersion2);
  WriteU16(h + 10, kHeaderSize2);
  WriteU32(h + 12, static_cast<uint32_t>(stored.size()));
  WriteU32(h + 16, static_cast<uint32_t>(plain.size()));
  h[20] = static_cast<uint8_t>(codec);
  WriteU32(h + 24, Crc32c(ByteView(stored.data(), stored.size())));
  WriteU32(h + 28, Crc32c(ByteView(h, 28)));
  uint64_t at = 0;
  const auto put = [&](const uint8_t* data, size_t length) {
    if (!out.WriteAt(at, ByteView(data, length))) return false;
    at += length;
    return true;
  };
  if (!put(h, sizeof h) || !put(stored.data(), stored.size())) return false;
  for (const std::vector<uint8_t>& stream : streams)
    if (!put(stream.data(), stream.size())) return false;
  *size = at;
  return true;
}

}  // namespace rtp
