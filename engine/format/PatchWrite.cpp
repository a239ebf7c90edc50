#include <cstring>

#include "engine/base/Crc32c.h"
#include "engine/base/Varint.h"
#include "engine/codec/Codec.h"
#include "engine/format/PatchFormat.h"

// Writing a patch: the builder's half of the format.
namespace rtp {

namespace {

void PutText(std::vector<uint8_t>* out, const std::string& text) {
  PutVarint(out, text.size());
  out->insert(out->end(), text.begin(), text.end());
}

void EncodeSources(const Patch& patch, std::vector<uint8_t>* d) {
  PutVarint(d, patch.sources.size());
  // Names in order share their beginnings: each is written as what it shares with the one before and the
  // rest.
  std::string previous;
  for (const SourceFile& source : patch.sources) {
    if (source.byHash) {
      PutVarint(d, previous.size() + 1 + (kNameHashBytes - source.hashBytes));
      PutFixed(d, source.nameHash, source.hashBytes);
      continue;
    }
    size_t shared = 0;
    while (shared < previous.size() && shared < source.name.size() && previous[shared] == source.name[shared])
      ++shared;
    PutVarint(d, shared);
    PutText(d, source.name.substr(shared));
    previous = source.name;
  }
  for (const SourceFile& source : patch.sources) PutVarint(d, source.size);
}

void EncodeFiles(const Patch& patch, std::vector<uint8_t>* d) {
  PutVarint(d, patch.files.size());
  for (const TreeFile& file : patch.files) PutVarint(d, static_cast<uint8_t>(file.kind));
  // Files mostly replace the old files in their order: each old file is written as a step from the one
  // after the last.
  uint32_t next = 1;
  for (const TreeFile& file : patch.files) {
    PutVarint(d, file.oldSource ? 1 + FoldSigned(int64_t{file.oldSource} - next) : 0);
    if (file.oldSource) next = file.oldSource + 1;
  }
  // A file of the same name as the old one it replaces leaves its name out.
  for (const TreeFile& file : patch.files)
    PutText(
        d, file.oldSource && patch.sources[file.oldSource - 1].name == file.name ? std::string() : file.name);
  for (const TreeFile& file : patch.files) {
    if (file.kind != FileKind::Write) continue;
    const uint64_t oldSize = file.oldSource ? patch.sources[file.oldSource - 1].size : 0;
    PutVarint(d, FoldSigned(static_cast<int64_t>(file.newSize - oldSize)));
  }
  for (const TreeFile& file : patch.files)
    if (file.kind == FileKind::Write) PutFixed32(d, file.newCrc);
}

std::vector<uint8_t> EncodeDirectory(const Patch& patch) {
  std::vector<uint8_t> d;
  EncodeSources(patch, &d);
  EncodeFiles(patch, &d);
  uint8_t present = 0;
  for (int s = 0; s < kStreamCount; ++s) present |= patch.streams[s].storedSize ? 1 << s : 0;
  d.push_back(present);
  for (const StreamInfo& stream : patch.streams) {
    if (!stream.storedSize) continue;
    PutVarint(&d, static_cast<uint8_t>(stream.codec));
    PutVarint(&d, stream.storedSize);
    if (EntryOf(stream.codec).keepsDecodedSize) PutVarint(&d, stream.decodedSize);
  }
  PutFixed32(&d, patch.streamsCrc);
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
  PutVarint(&d, 0);  // reserved
  for (const std::vector<uint8_t>& held : patch.held) d.insert(d.end(), held.begin(), held.end());
  return d;
}

// Beyond this, a coded directory is not coded again to hold the streams.
constexpr size_t kLargestHoldingHead = 64 * 1024;

// The header and the coded directory of `patch`; false when the directory is too large or memory runs
// out.
bool EncodeHead(const Patch& patch, std::vector<uint8_t>* head) {
  const std::vector<uint8_t> plain = EncodeDirectory(patch);
  if (plain.size() > kMaxDirectory) return false;
  std::vector<uint8_t> stored;
  Codec codec;
  if (!EncodeStream(ByteView(plain.data(), plain.size()), &stored, &codec)) return false;
  std::vector<uint8_t>& h = *head;
  h.assign(kMagic, kMagic + sizeof kMagic);
  h.push_back(static_cast<uint8_t>(kFormatVersion & 0xFF));
  h.push_back(static_cast<uint8_t>(kFormatVersion >> 8));
  h.push_back(static_cast<uint8_t>(codec));
  PutVarint(&h, stored.size());
  PutVarint(&h, plain.size());
  PutFixed32(&h, Crc32c(ByteView(stored.data(), stored.size()), Crc32c(ByteView(h.data(), h.size()))));
  h.insert(h.end(), stored.begin(), stored.end());
  return true;
}

// The patch as described, its streams after the directory all but those it holds.
bool EncodeLayout(const Patch& described, const std::vector<uint8_t> (&streams)[kStreamCount],
                  const std::vector<uint8_t> (*held)[kStreamCount], Patch* patch, std::vector<uint8_t>* head,
                  uint64_t* size) {
  *patch = described;
  patch->streamsCrc = 0;
  *size = 0;
  for (int s = 0; s < kStreamCount; ++s) {
    if (held && !(*held)[s].empty()) {
      patch->held[s] = (*held)[s];
      patch->streams[s] = {Codec::InDirectory, (*held)[s].size(), (*held)[s].size(), 0};
      continue;
    }
    patch->streamsCrc = Crc32c(ByteView(streams[s].data(), streams[s].size()), patch->streamsCrc);
    *size += streams[s].size();
  }
  if (!EncodeHead(*patch, head)) return false;
  *size += head->size();
  return true;
}

}  // namespace

bool WritePatch(const Patch& described, const std::vector<uint8_t> (&streams)[kStreamCount],
                const std::vector<uint8_t> (&offered)[kStreamCount], Sink& out, uint64_t* size) {
  Patch patch, holding;
  std::vector<uint8_t> head, holdingHead;
  uint64_t total = 0, holdingTotal = UINT64_MAX;
  if (!EncodeLayout(described, streams, nullptr, &patch, &head, &total)) return false;
  // Held streams save a few bytes of each coder's ending: beside a large directory that is not worth
  // coding it twice.
  bool offers = false;
  for (const std::vector<uint8_t>& bytes : offered) offers = offers || !bytes.empty();
  offers = offers && head.size() <= kLargestHoldingHead;
  const bool hold = offers &&
                    EncodeLayout(described, streams, &offered, &holding, &holdingHead, &holdingTotal) &&
                    holdingTotal < total;
  uint64_t at = 0;
  const auto put = [&](const std::vector<uint8_t>& bytes) {
    if (!out.WriteAt(at, ByteView(bytes.data(), bytes.size()))) return false;
    at += bytes.size();
    return true;
  };
  if (!put(hold ? holdingHead : head)) return false;
  for (int s = 0; s < kStreamCount; ++s)
    if (!(hold && !offered[s].empty()) && !put(streams[s])) return false;
  *size = at;
  return true;
}

}  // namespace rtp
