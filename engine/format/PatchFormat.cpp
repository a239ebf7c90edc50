#include "engine/format/PatchFormat.h"

#include <algorithm>
#include <cstring>

#include "engine/format/Delta.h"
#include "engine/EngineAbi.h"

namespace rtp {

namespace {

constexpr uint32_t kKnownFlags = kFlagBiggest | kFlagAnnounce | kFlagNoAnnounce;

std::string EntryLabel(size_t index) {
  return "entry " + std::to_string(index + 1);
}

// The rules one entry's head and name keep on their own; `index` names it in the detail. The payload's
// own checks follow as it is read.
bool CheckEntry(const PatchEntry& entry, size_t index, FormatError* error) {
  const std::string where = EntryLabel(index);
  if (entry.delayMs > kMaxDelayMs) return FailFormat(error, kErrCorrupt, where + ": delay too long");
  if (entry.op == Op::Notice) {
    if (entry.noticeId == 0 || !entry.name.empty() || entry.oldSize || entry.oldCrc || entry.newSize ||
        entry.newCrc)
      return FailFormat(error, kErrCorrupt, where + ": malformed notice");
    switch (ParamKindOf(entry.noticeId)) {
      case ParamKind::Text:
        if (entry.payloadSize > kMaxNoticeText)
          return FailFormat(error, kErrCorrupt, where + ": malformed notice text");
        return true;
      case ParamKind::Number:
        if (entry.payloadSize != 4)
          return FailFormat(error, kErrCorrupt, where + ": malformed notice number");
        return true;
      case ParamKind::None:
        if (entry.payloadSize != 0) return FailFormat(error, kErrCorrupt, where + ": notice carries data");
        return true;
    }
    return true;
  }
  if (entry.noticeId != 0 || !IsValidName(entry.name))
    return FailFormat(error, kErrCorrupt, where + ": invalid file name");
  const std::string named = where + " (" + entry.name + ")";
  switch (entry.op) {
    case Op::Add:
    case Op::Replace:
      if (entry.op == Op::Add && (entry.oldSize || entry.oldCrc))
        return FailFormat(error, kErrCorrupt, named + ": added file with an old version");
      if (entry.payloadSize != entry.newSize)
        return FailFormat(error, kErrCorrupt, named + ": file data damaged");
      return true;
    case Op::Delete:
      if (entry.newSize || entry.newCrc || entry.payloadSize)
        return FailFormat(error, kErrCorrupt, named + ": deleted file with new data");
      return true;
    case Op::Delta:
      return true;
    default:
      return FailFormat(error, kErrCorrupt, where + ": unknown operation");
  }
}

}  // namespace

ParamKind ParamKindOf(uint32_t id) {
  switch (id) {
    case kIdWarning:
    case kIdWarning2:
    case kIdError:
    case kIdWarning4:
    case kIdFileStart:
    case kIdDetail:
      return ParamKind::Text;
    case kIdProgress:
    case kIdFileCount:
      return ParamKind::Number;
    default:
      return ParamKind::None;
  }
}

uint32_t Patch::FileCount() const {
  uint32_t count = 0;
  for (const PatchEntry& entry : entries)
    if (entry.IsFile()) ++count;
  return count;
}

const char* OpName(Op op) {
  switch (op) {
    case Op::Add:
      return "add";
    case Op::Replace:
      return "replace";
    case Op::Delete:
      return "delete";
    case Op::Delta:
      return "delta";
    case Op::Notice:
      return "notice";
  }
  return "?";
}

namespace {

// Reads one entry's payload from the body and checks it: a notice's is kept, a file's is summed, a
// delta's instructions are walked.
bool ReadPayload(StreamReader& body, PatchEntry* entry, size_t index, FormatError* error) {
  const std::string where = EntryLabel(index);
  const auto failed = [&](const std::string& what) {
    if (body.Failed()) return FailFormat(error, kErrPatchUnreadable, "read failed");
    return FailFormat(error, kErrCorrupt, where + what);
  };
  if (entry->op == Op::Notice) {
    entry->notice.resize(entry->payloadSize);
    if (!body.Read(reinterpret_cast<uint8_t*>(&entry->notice[0]), entry->payloadSize))
      return failed(": truncated");
    if (ParamKindOf(entry->noticeId) == ParamKind::Text && entry->notice.find('\0') != std::string::npos)
      return failed(": malformed notice text");
    return true;
  }
  if (entry->op == Op::Delta) {
    const uint32_t result = CheckDelta(body, entry->payloadSize, entry->oldSize, entry->newSize);
    if (result == kErrPatchUnreadable) return failed("");
    return result == kOk || failed(" (" + entry->name + "): delta damaged");
  }
  uint32_t crc = 0;
  for (uint64_t done = 0; done < entry->payloadSize;) {
    ByteView piece;
    if (!body.Take(static_cast<size_t>(entry->payloadSize - done), &piece)) return failed(": truncated");
    crc = Crc32(piece, crc);
    done += piece.size;
  }
  if (entry->op != Op::Delete && crc != entry->newCrc)
    return failed(" (" + entry->name + "): file data damaged");
  return true;
}

}  // namespace

std::string FoldName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

bool ParsePatch(ByteView bytes, Patch* out, FormatError* error) {
  MemorySource source(bytes);
  return ParsePatch(source, out, error);
}

bool ParsePatch(Source& source, Patch* out, FormatError* error) {
  *out = Patch();
  const uint64_t size = source.Size();
  uint8_t h[kHeaderSize];
  const auto read = [&](size_t length) { return source.ReadAt(0, h, length); };
  if (size < sizeof kMagic) return FailFormat(error, kErrCorrupt, "not a patch file");
  if (!read(sizeof kMagic)) return FailFormat(error, kErrPatchUnreadable, "read failed");
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) return FailFormat(error, kErrCorrupt, "not a patch file");
  if (size < 10) return FailFormat(error, kErrCorrupt, "header truncated");
  if (!read(10)) return FailFormat(error, kErrPatchUnreadable, "read failed");
  const uint16_t version = ReadU16(h + 8);
  if (version != kFormatVersion)
    return FailFormat(error, kErrFormatVersion,
                      "format version " + std::to_string(version) + ", this engine reads 1 and 2");
  if (size < kHeaderSize) return FailFormat(error, kErrCorrupt, "header truncated");
  if (!read(kHeaderSize)) return FailFormat(error, kErrPatchUnreadable, "read failed");
  if (Crc32(ByteView(h, 36)) != ReadU32(h + 36))
    return FailFormat(error, kErrCorrupt, "header checksum mismatch");
  if (ReadU16(h + 10) != kHeaderSize) return FailFormat(error, kErrCorrupt, "unexpected header size");
  const uint32_t flags = ReadU32(h + 12);
  const uint32_t entryCount = ReadU32(h + 16);
  const uint32_t bodySize = ReadU32(h + 28);
  if (flags & ~kKnownFlags) return FailFormat(error, kErrCorrupt, "unknown flags");
  if ((flags & kFlagAnnounce) && (flags & kFlagNoAnnounce))
    return FailFormat(error, kErrCorrupt, "conflicting flags");
  if (size - kHeaderSize < bodySize) return FailFormat(error, kErrCorrupt, "truncated");
  if (size - kHeaderSize > bodySize) return FailFormat(error, kErrCorrupt, "bytes after the last entry");
  if (entryCount > bodySize / kEntryHeadSize || entryCount > kMaxEntries)
    return FailFormat(error, kErrCorrupt, "entry count too large");

  StreamReader body(source, kHeaderSize, bodySize);
  if (!body.Ok()) return FailFormat(error, kErrNoMemory, "patch buffer");
  body.StartSum();
  out->header.flags = flags;
  out->header.biggest = ReadU32(h + 20);
  out->header.announced = ReadU32(h + 24);
  for (uint32_t i = 0; i < entryCount; ++i) {
    uint8_t e[kEntryHeadSize];
    if (!body.Read(e, kEntryHeadSize)) {
      if (body.Failed()) return FailFormat(error, kErrPatchUnreadable, "read failed");
      return FailFormat(error, kErrCorrupt, EntryLabel(i) + ": truncated");
    }
    PatchEntry entry;
    entry.op = static_cast<Op>(e[0]);
    if (e[0] < static_cast<uint8_t>(Op::Add) || e[0] > static_cast<uint8_t>(Op::Notice))
      return FailFormat(error, kErrCorrupt, EntryLabel(i) + ": unknown operation");
    entry.noticeId = e[1];
    const uint16_t nameLength = ReadU16(e + 2);
    entry.oldSize = ReadU32(e + 4);
    entry.oldCrc = ReadU32(e + 8);
    entry.newSize = ReadU32(e + 12);
    entry.newCrc = ReadU32(e + 16);
    entry.delayMs = ReadU32(e + 20);
    entry.payloadSize = ReadU32(e + 24);
    if (static_cast<uint64_t>(nameLength) + entry.payloadSize > body.Remaining())
      return FailFormat(error, kErrCorrupt, EntryLabel(i) + ": truncated");
    entry.name.resize(nameLength);
    if (nameLength && !body.Read(reinterpret_cast<uint8_t*>(&entry.name[0]), nameLength))
      return FailFormat(error, kErrPatchUnreadable, "read failed");
    entry.payloadOffset = kHeaderSize + body.Position();
    if (!CheckEntry(entry, i, error) || !ReadPayload(body, &entry, i, error)) return false;
    out->entries.push_back(std::move(entry));
  }
  if (body.Remaining() != 0) return FailFormat(error, kErrCorrupt, "bytes after the last entry");
  if (body.Sum() != ReadU32(h + 32)) return FailFormat(error, kErrCorrupt, "body checksum mismatch");

  std::vector<std::string> names;
  for (const PatchEntry& entry : out->entries)
    if (entry.IsFile()) names.push_back(FoldName(entry.name));
  std::sort(names.begin(), names.end());
  if (std::adjacent_find(names.begin(), names.end()) != names.end())
    return FailFormat(error, kErrCorrupt, "a file is named twice");
  return true;
}

PatchWriter::PatchWriter(Sink& sink) : mSink(sink), mPayload(sink, 0) {}

void PatchWriter::BeginEntry(size_t nameLength) {
  mPayloadAt = mEnd + kEntryHeadSize + nameLength;
  mPayload.Restart(mPayloadAt);
}

bool PatchWriter::EndEntry(const PatchEntry& entry) {
  const uint64_t payloadSize = mPayload.Count();
  if (!mPayload.Flush() || payloadSize > 0xFFFFFFFFu || entry.name.size() > 0xFFFF) return false;
  std::string head(kEntryHeadSize, '\0');
  uint8_t* e = reinterpret_cast<uint8_t*>(&head[0]);
  e[0] = static_cast<uint8_t>(entry.op);
  e[1] = entry.noticeId;
  WriteU16(e + 2, static_cast<uint16_t>(entry.name.size()));
  WriteU32(e + 4, entry.oldSize);
  WriteU32(e + 8, entry.oldCrc);
  WriteU32(e + 12, entry.newSize);
  WriteU32(e + 16, entry.newCrc);
  WriteU32(e + 20, entry.delayMs);
  WriteU32(e + 24, static_cast<uint32_t>(payloadSize));
  head += entry.name;
  if (!mSink.WriteAt(mEnd, ByteView(head))) return false;
  mBodyCrc = Crc32Combine(Crc32(ByteView(head), mBodyCrc), mPayload.Crc(), payloadSize);
  mEnd = mPayloadAt + payloadSize;
  ++mEntries;
  return true;
}

bool PatchWriter::Finish(const PatchHeader& header) {
  if (mEnd - kHeaderSize > 0xFFFFFFFFu) return false;
  uint8_t p[kHeaderSize];
  std::memcpy(p, kMagic, sizeof kMagic);
  WriteU16(p + 8, kFormatVersion);
  WriteU16(p + 10, kHeaderSize);
  WriteU32(p + 12, header.flags);
  WriteU32(p + 16, mEntries);
  WriteU32(p + 20, header.biggest);
  WriteU32(p + 24, header.announced);
  WriteU32(p + 28, static_cast<uint32_t>(mEnd - kHeaderSize));
  WriteU32(p + 32, mBodyCrc);
  WriteU32(p + 36, Crc32(ByteView(p, 36)));
  return mSink.WriteAt(0, ByteView(p, kHeaderSize));
}

bool WritePatch(const PatchHeader& header, const std::vector<PatchEntry>& entries, Buffer* out) {
  MemorySink sink;
  PatchWriter writer(sink);
  if (!writer.Ok()) return false;
  for (const PatchEntry& entry : entries) {
    writer.BeginEntry(entry.name.size());
    if (!writer.Payload().Put(entry.payload) || !writer.EndEntry(entry)) return false;
  }
  return writer.Finish(header) && out->Assign(ByteView(sink.bytes));
}

PatchCost ComputeCost(const Patch& patch) {
  const auto clamp = [](int64_t value) {
    return static_cast<uint32_t>(std::min<int64_t>(std::max<int64_t>(value, 0), 0xFFFFFFFFll));
  };
  int64_t growth = 0;
  int64_t peak = 0;
  int64_t newSize = 0;
  int64_t oldSize = 0;
  PatchCost cost;
  for (const PatchEntry& entry : patch.entries) {
    switch (entry.op) {
      case Op::Add:
      case Op::Replace:
      case Op::Delta:
        // The new file is complete beside the old one before the old one goes.
        peak = std::max(peak, growth + entry.newSize);
        growth += static_cast<int64_t>(entry.newSize) - entry.oldSize;
        newSize += entry.newSize;
        oldSize += entry.oldSize;
        ++cost.files;
        break;
      case Op::Delete:
        growth -= entry.oldSize;
        oldSize += entry.oldSize;
        ++cost.files;
        break;
      case Op::Notice:
        break;
    }
  }
  cost.biggest = (patch.header.flags & kFlagBiggest) ? patch.header.biggest : clamp(peak);
  cost.newSize = clamp(newSize);
  cost.oldSize = clamp(oldSize);
  return cost;
}

}  // namespace rtp
