#include "engine/format/PatchFormat.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/base/Crc32c.h"
#include "engine/EngineAbi.h"
#include "engine/base/Varint.h"

namespace rtp {

namespace {

constexpr uint64_t kMaxFileSize = uint64_t{1} << 48;

bool TakeText(VarintReader& in, size_t most, std::string* out) {
  const uint64_t length = in.Bounded(most);
  const uint8_t* bytes = in.Take(static_cast<size_t>(length));
  if (!in.Ok()) return false;
  out->assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  return true;
}

// The name of one old file: a text after what it shares with the name before, or a hash.
bool TakeSourceName(VarintReader& in, uint16_t version, std::string* previous, SourceFile* source) {
  const int hashLengths = version > 4 ? kNameHashBytes - kShortestNameHash + 1 : version > 2 ? 1 : 0;
  const uint64_t shared = in.Bounded(previous->size() + hashLengths);
  if (shared > previous->size()) {
    source->byHash = true;
    source->hashBytes = kNameHashBytes - static_cast<int>(shared - previous->size() - 1);
    source->nameHash = in.Fixed(source->hashBytes);
    return in.Ok();
  }
  if (!TakeText(in, kMaxNameLength, &source->name)) return false;
  source->name = previous->substr(0, static_cast<size_t>(shared)) + source->name;
  *previous = source->name;
  return true;
}

// Each part of the directory: false, with the error, when it is damaged in a way a truncation is not;
// a truncated directory is found once, at its end.
bool DecodeSources(VarintReader& in, uint16_t version, Patch* out, FormatError* error) {
  const uint64_t sourceCount = in.Bounded(kMaxEntries);
  std::string previous;
  for (uint64_t i = 0; in.Ok() && i < sourceCount; ++i) {
    SourceFile source;
    if (!TakeSourceName(in, version, &previous, &source)) break;
    if (version == 2) source.size = in.Bounded(kMaxFileSize);
    out->sources.push_back(std::move(source));
  }
  uint64_t start = 0;
  for (size_t i = 0; i < out->sources.size() && in.Ok(); ++i) {
    SourceFile& source = out->sources[i];
    if (version > 2) source.size = in.Bounded(kMaxFileSize);
    source.start = start;
    start += source.size;
    if (!source.byHash && !IsValidName(source.name))
      return FailFormat(error, kErrCorrupt, "source " + std::to_string(i + 1) + ": invalid name");
  }
  return true;
}

// A file's entry as written, before it is checked.
struct FileFields {
  uint64_t kind = 0;
  uint64_t oldSource = 0;
  std::string name;
  int64_t change = 0;  // of the size
  uint32_t crc = 0;
};

// Version 2: each file's fields together.
void TakeFilesTogether(VarintReader& in, size_t sources, std::vector<FileFields>* files) {
  const uint64_t fileCount = in.Bounded(kMaxEntries);
  for (uint64_t i = 0; in.Ok() && i < fileCount; ++i) {
    FileFields file;
    file.kind = in.Number();
    file.oldSource = in.Bounded(sources);
    if (!TakeText(in, kMaxNameLength, &file.name)) break;
    if (file.kind == static_cast<uint8_t>(FileKind::Write)) {
      file.change = in.Signed();
      file.crc = in.Fixed32();
    }
    files->push_back(std::move(file));
  }
}

// Version 3: field by field.
void TakeFilesByField(VarintReader& in, size_t sources, std::vector<FileFields>* files) {
  const uint64_t fileCount = in.Bounded(kMaxEntries);
  for (uint64_t i = 0; in.Ok() && i < fileCount; ++i) {
    files->emplace_back();
    files->back().kind = in.Number();
  }
  int64_t next = 1;
  for (FileFields& file : *files) {
    const uint64_t step = in.Bounded(2 * uint64_t{kMaxEntries} + 1);
    if (!step) continue;
    const int64_t old = next + UnfoldSigned(step - 1);
    if (old < 1 || old > static_cast<int64_t>(sources)) return in.Fail();
    file.oldSource = static_cast<uint64_t>(old);
    next = old + 1;
  }
  for (FileFields& file : *files)
    if (!TakeText(in, kMaxNameLength, &file.name)) return;
  const auto writes = [](const FileFields& file) {
    return file.kind == static_cast<uint8_t>(FileKind::Write);
  };
  for (FileFields& file : *files)
    if (writes(file)) file.change = in.Signed();
  for (FileFields& file : *files)
    if (writes(file)) file.crc = in.Fixed32();
}

bool CheckFile(size_t i, const FileFields& fields, Patch* out, FormatError* error) {
  TreeFile file;
  file.oldSource = static_cast<uint32_t>(fields.oldSource);
  file.name = fields.name;
  const SourceFile* old = file.oldSource ? &out->sources[file.oldSource - 1] : nullptr;
  if (file.name.empty() && old) file.name = old->name;
  const auto corrupt = [&](const std::string& what) {
    return FailFormat(error, kErrCorrupt, "file " + std::to_string(i + 1) + what);
  };
  if (fields.kind == static_cast<uint8_t>(FileKind::Write)) {
    file.kind = FileKind::Write;
    const uint64_t oldSize = old ? old->size : 0;
    const int64_t change = fields.change;
    file.newSize = oldSize + static_cast<uint64_t>(change);
    if ((change < 0 && static_cast<uint64_t>(-(change + 1)) + 1 > oldSize) || file.newSize > kMaxFileSize)
      return corrupt(": size out of range");
    file.newCrc = fields.crc;
  } else if (fields.kind == static_cast<uint8_t>(FileKind::Delete)) {
    file.kind = FileKind::Delete;
    if (!old) return corrupt(": deletes no file");
  } else {
    return corrupt(": unknown kind");
  }
  // A file that replaces one named by hash takes its name when the apply finds it.
  const bool pending = old && old->byHash && file.name.empty();
  if (!pending && !IsValidName(file.name)) return corrupt(": invalid file name");
  if (old && !pending &&
      (old->byHash ? NameHash(file.name, old->hashBytes) != old->nameHash
                   : FoldName(old->name) != FoldName(file.name)))
    return corrupt(" (" + file.name + "): replaces a file of another name");
  out->files.push_back(std::move(file));
  return true;
}

bool DecodeFiles(VarintReader& in, uint16_t version, Patch* out, FormatError* error) {
  std::vector<FileFields> files;
  if (version == 2)
    TakeFilesTogether(in, out->sources.size(), &files);
  else
    TakeFilesByField(in, out->sources.size(), &files);
  for (size_t i = 0; i < files.size() && in.Ok(); ++i)
    if (!CheckFile(i, files[i], out, error)) return false;
  return true;
}

bool DecodeStreams(VarintReader& in, Patch* out, FormatError* error) {
  const uint64_t present = in.Bounded((1u << kStreamCount) - 1);
  for (int s = 0; s < kStreamCount; ++s) {
    if (!(present & (1u << s))) continue;
    StreamInfo& stream = out->streams[s];
    const CodecEntry* codec = FindCodec(static_cast<uint8_t>(in.Bounded(UINT8_MAX)));
    if (codec && codec->id == Codec::InDirectory && out->version < 4) codec = nullptr;
    if (codec && codec->id == Codec::LzmaParts && out->version < 5) codec = nullptr;
    if (codec && codec->id == Codec::Differences && (out->version < 6 || s != kDiff)) codec = nullptr;
    if (codec && codec->id == Codec::LzmaAfterOldParts && out->version < 7) codec = nullptr;
    if (in.Ok() && !codec) return FailFormat(error, kErrCorrupt, "unknown codec");
    if (codec) stream.codec = codec->id;
    stream.storedSize = in.Bounded(kMaxFileSize);
    stream.decodedSize = codec && codec->keepsDecodedSize ? in.Bounded(kMaxFileSize) : stream.storedSize;
    if (in.Ok() && stream.storedSize == 0)
      return FailFormat(error, kErrCorrupt, "empty stream marked present");
  }
  out->streamsCrc = in.Fixed32();
  return true;
}

bool DecodeTranslations(VarintReader& in, Patch* out, FormatError* error) {
  const auto damaged = [&] { return FailFormat(error, kErrCorrupt, "translation damaged"); };
  const uint64_t translations = in.Bounded(out->sources.size());
  for (uint64_t t = 0; in.Ok() && t < translations; ++t) {
    const uint64_t number = in.Bounded(out->sources.size());
    if (!in.Ok() || number == 0 || out->sources[number - 1].translated) return damaged();
    SourceFile& source = out->sources[number - 1];
    source.translated = true;
    source.map.newImageBase = static_cast<uint32_t>(in.Bounded(0xFFFFFFFFu));
    source.map.jumps = out->version >= 3;
    const uint64_t segments = in.Bounded(kMaxRelocations);
    int64_t start = 0, shift = 0;
    for (uint64_t k = 0; in.Ok() && k < segments; ++k) {
      // Both stay within 32 bits, so a change beyond 33 bits is damage (and would overflow the sum).
      const int64_t startStep = in.Signed(), shiftStep = in.Signed();
      if (startStep < -(1ll << 33) || startStep > (1ll << 33) || shiftStep < -(1ll << 33) ||
          shiftStep > (1ll << 33))
        return damaged();
      start += startStep;
      shift += shiftStep;
      if (start < 0 || start > 0xFFFFFFFFll ||
          (!source.map.starts.empty() && start <= source.map.starts.back()) || shift < INT32_MIN ||
          shift > INT32_MAX)
        return damaged();
      source.map.starts.push_back(static_cast<uint32_t>(start));
      source.map.shifts.push_back(static_cast<int32_t>(shift));
    }
  }
  return true;
}

// True when two of the names are the same ignoring the case of ASCII letters (names not yet known are
// left out).
template <typename Named>
bool HasNameTwice(const std::vector<Named>& entries) {
  std::vector<std::string> names;
  for (const Named& entry : entries)
    if (!entry.name.empty()) names.push_back(FoldName(entry.name));
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) != names.end();
}

// True when a hash names two old files, or an old file and a file of another name: once the apply has
// found them, two entries would name one client file. A shorter hash answers to every name a longer one
// with its low bytes does.
bool HasHashTwice(const Patch& patch) {
  std::set<uint64_t> named[kNameHashBytes + 1], hashed[kNameHashBytes + 1];  // per hash length
  const auto name = [&](const std::string& text) {
    const uint64_t hash = NameHash(text);
    for (int bytes = kShortestNameHash; bytes <= kNameHashBytes; ++bytes)
      named[bytes].insert(LowBytes(hash, bytes));
  };
  std::set<uint32_t> replaced;
  std::vector<const SourceFile*> byHash;
  for (const SourceFile& source : patch.sources)
    source.byHash ? byHash.push_back(&source) : name(source.name);
  for (const TreeFile& file : patch.files) {
    if (!file.oldSource || !patch.sources[file.oldSource - 1].byHash)
      name(file.name);
    else if (!replaced.insert(file.oldSource).second)
      return true;
  }
  // Shortest first, so each hash meets every shorter one before it.
  std::stable_sort(byHash.begin(), byHash.end(),
                   [](const SourceFile* a, const SourceFile* b) { return a->hashBytes < b->hashBytes; });
  for (const SourceFile* source : byHash) {
    if (named[source->hashBytes].count(source->nameHash)) return true;
    for (int bytes = kShortestNameHash; bytes <= source->hashBytes; ++bytes)
      if (hashed[bytes].count(LowBytes(source->nameHash, bytes))) return true;
    hashed[source->hashBytes].insert(source->nameHash);
  }
  return false;
}

bool DecodeDirectory(VarintReader& in, Patch* out, FormatError* error) {
  if (!DecodeSources(in, out->version, out, error) || !DecodeFiles(in, out->version, out, error) ||
      !DecodeStreams(in, out, error) || !DecodeTranslations(in, out, error))
    return false;
  const auto corrupt = [&](const std::string& what) { return FailFormat(error, kErrCorrupt, what); };
  if (in.Ok() && in.Number() != 0) return corrupt("reserved field set");
  for (int s = 0; s < kStreamCount && in.Ok(); ++s) {
    const StreamInfo& stream = out->streams[s];
    if (stream.codec != Codec::InDirectory || !stream.storedSize) continue;
    if (stream.storedSize > kMaxHeldStream) return corrupt("held stream too large");
    const uint8_t* bytes = in.Take(static_cast<size_t>(stream.storedSize));
    if (bytes) out->held[s].assign(bytes, bytes + stream.storedSize);
  }
  if (!in.Ok()) return corrupt("directory damaged");
  if (!in.AtEnd()) return corrupt("bytes after the directory");
  if (HasNameTwice(out->files)) return corrupt("a file is named twice");
  if (HasNameTwice(out->sources)) return corrupt("a source is named twice");
  if (HasHashTwice(*out)) return corrupt("a name hash answers to two files");
  return true;
}

}  // namespace

uint32_t Patch::WrittenCount() const {
  uint32_t count = 0;
  for (const TreeFile& file : files) count += file.kind == FileKind::Write;
  return count;
}

bool ParsePatch(Source& source, Patch* out, FormatError* error, bool checkStreams) {
  *out = Patch();
  const uint64_t size = source.Size();
  uint8_t h[kMaxHeaderSize];
  const size_t got = static_cast<size_t>(std::min<uint64_t>(size, kMaxHeaderSize));
  if (got < 10) return FailFormat(error, kErrCorrupt, "header truncated");
  if (!source.ReadAt(0, h, got)) return FailFormat(error, kErrPatchUnreadable, "read failed");
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) return FailFormat(error, kErrCorrupt, "not a patch file");
  // The version first: a patch of another version is told as such, however its header goes on.
  out->version = ReadU16(h + 8);
  if (out->version < kOldestVersion || out->version > kFormatVersion)
    return FailFormat(error, kErrFormatVersion,
                      "format version " + std::to_string(out->version) + ", this engine reads " +
                          std::to_string(kOldestVersion) + " to " + std::to_string(kFormatVersion));
  if (got < 11 + 2 + 4) return FailFormat(error, kErrCorrupt, "header truncated");
  const uint8_t codec = h[10];
  VarintReader sizes(h + 11, got - 11);
  const uint32_t storedSize = static_cast<uint32_t>(sizes.Bounded(kMaxDirectory));
  const uint32_t decodedSize = static_cast<uint32_t>(sizes.Bounded(kMaxDirectory));
  const size_t crcAt = got - sizes.Left();
  if (!sizes.Ok() || crcAt + 4 > got || !FindCodec(codec) ||
      codec == static_cast<uint8_t>(Codec::InDirectory))
    return FailFormat(error, kErrCorrupt, "unexpected header");
  const uint64_t headerSize = crcAt + 4;
  if (size - headerSize < storedSize) return FailFormat(error, kErrCorrupt, "truncated");
  Buffer stored, directory;
  if (!stored.Resize(storedSize) || !directory.Resize(decodedSize))
    return FailFormat(error, kErrNoMemory, "directory");
  if (!source.ReadAt(headerSize, stored.data(), storedSize))
    return FailFormat(error, kErrPatchUnreadable, "read failed");
  if (Crc32c(stored.view(), Crc32c(ByteView(h, crcAt))) != ReadU32(h + crcAt))
    return FailFormat(error, kErrCorrupt, "header checksum mismatch");
  {
    MemorySource storedSource(stored.view());
    StreamDecoder decoder;
    bool noMemory = false;
    if (!decoder.Open(storedSource, 0, storedSize, decodedSize, static_cast<Codec>(codec), &noMemory))
      return noMemory ? FailFormat(error, kErrNoMemory, "directory")
                      : FailFormat(error, kErrCorrupt, "directory damaged");
    if (!decoder.Read(directory.data(), decodedSize) || !decoder.Finish())
      return FailFormat(error, kErrCorrupt, "directory damaged");
  }
  VarintReader in(directory.data(), directory.size());
  if (!DecodeDirectory(in, out, error)) return false;
  const uint64_t streamsAt = headerSize + storedSize;
  uint64_t at = streamsAt;
  for (StreamInfo& stream : out->streams) {
    if (stream.codec == Codec::InDirectory) continue;
    stream.offset = at;
    if (stream.storedSize > size - at) return FailFormat(error, kErrCorrupt, "truncated");
    at += stream.storedSize;
  }
  if (at != size) return FailFormat(error, kErrCorrupt, "bytes after the last stream");
  if (!checkStreams) return true;
  StreamReader reader(source, streamsAt, size - streamsAt);
  if (!reader.Ok()) return FailFormat(error, kErrNoMemory, "patch buffer");
  uint32_t crc = 0;
  while (reader.Remaining()) {
    ByteView piece;
    if (!reader.Take(kChunkSize, &piece)) return FailFormat(error, kErrPatchUnreadable, "read failed");
    crc = Crc32c(piece, crc);
  }
  if (crc != out->streamsCrc) return FailFormat(error, kErrCorrupt, "stream checksum mismatch");
  return true;
}

PatchCost ComputeCost(const Patch& patch) {
  const auto clamp = [](uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, 0xFFFFFFFFu));
  };
  uint64_t staged = 0, kept = 0, oldSize = 0;
  PatchCost cost;
  for (const TreeFile& file : patch.files) {
    const uint64_t old = file.oldSource ? patch.sources[file.oldSource - 1].size : 0;
    const bool write = file.kind == FileKind::Write;
    staged += write ? file.newSize : 0;
    kept += (!write || file.newSize <= kInPlaceLimit) && old <= kInPlaceLimit ? old : 0;
    oldSize += old;
    ++cost.files;
  }
  cost.biggest = clamp(staged + kept);
  cost.newSize = clamp(staged);
  cost.oldSize = clamp(oldSize);
  return cost;
}

bool ReadPatchCost(Source& source, PatchCost* cost, FormatError* error) {
  Patch patch;
  if (!ParsePatch(source, &patch, error, false)) return false;
  *cost = ComputeCost(patch);
  return true;
}

}  // namespace rtp
