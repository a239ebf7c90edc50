#include "patchengine/PatchFormat.h"

#include <algorithm>
#include <cstring>

#include "patchengine/Delta.h"
#include "patchengine/Errors.h"

namespace rtp {

namespace {

constexpr uint32_t kKnownFlags = kFlagBiggest | kFlagAnnounce | kFlagNoAnnounce;

bool Fail(FormatError* error, uint32_t number, std::string detail) {
  if (error) {
    error->number = number;
    error->detail = std::move(detail);
  }
  return false;
}

std::string EntryLabel(size_t index) {
  return "entry " + std::to_string(index + 1);
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string FoldCase(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = LowerAscii(c);
  return folded;
}

bool HasNoZeroByte(ByteView bytes) {
  return bytes.size == 0 || std::memchr(bytes.data, 0, bytes.size) == nullptr;
}

// The rules one entry keeps on its own; `index` names it in the detail.
bool CheckEntry(const PatchEntry& entry, size_t index, FormatError* error) {
  const std::string where = EntryLabel(index);
  if (entry.delayMs > kMaxDelayMs) return Fail(error, kErrCorrupt, where + ": delay too long");
  if (entry.op == Op::Notice) {
    if (entry.noticeId == 0 || !entry.name.empty() || entry.oldSize || entry.oldCrc || entry.newSize ||
        entry.newCrc)
      return Fail(error, kErrCorrupt, where + ": malformed notice");
    switch (ParamKindOf(entry.noticeId)) {
      case ParamKind::Text:
        if (entry.payload.size > kMaxNoticeText || !HasNoZeroByte(entry.payload))
          return Fail(error, kErrCorrupt, where + ": malformed notice text");
        return true;
      case ParamKind::Number:
        if (entry.payload.size != 4) return Fail(error, kErrCorrupt, where + ": malformed notice number");
        return true;
      case ParamKind::None:
        if (entry.payload.size != 0) return Fail(error, kErrCorrupt, where + ": notice carries data");
        return true;
    }
    return true;
  }
  if (entry.noticeId != 0 || !IsValidName(entry.name))
    return Fail(error, kErrCorrupt, where + ": invalid file name");
  const std::string named = where + " (" + entry.name + ")";
  switch (entry.op) {
    case Op::Add:
    case Op::Replace:
      if (entry.op == Op::Add && (entry.oldSize || entry.oldCrc))
        return Fail(error, kErrCorrupt, named + ": added file with an old version");
      if (entry.payload.size != entry.newSize || Crc32(entry.payload) != entry.newCrc)
        return Fail(error, kErrCorrupt, named + ": file data damaged");
      return true;
    case Op::Delete:
      if (entry.newSize || entry.newCrc || entry.payload.size)
        return Fail(error, kErrCorrupt, named + ": deleted file with new data");
      return true;
    case Op::Delta:
      if (!CheckDelta(entry.payload, entry.oldSize, entry.newSize))
        return Fail(error, kErrCorrupt, named + ": delta damaged");
      return true;
    default:
      return Fail(error, kErrCorrupt, where + ": unknown operation");
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

bool IsValidName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  size_t partStart = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '\\') {
      const size_t length = i - partStart;
      if (length == 0) return false;
      const std::string part = name.substr(partStart, length);
      if (part == "." || part == "..") return false;
      // Windows drops a trailing blank or dot, so "a." and "a" would be one file.
      if (part.back() == ' ' || part.back() == '.') return false;
      partStart = i + 1;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c > 0x7E || std::strchr("<>:\"|?*/", c)) return false;
  }
  return true;
}

bool ParsePatch(ByteView bytes, Patch* out, FormatError* error) {
  *out = Patch();
  if (bytes.size < sizeof kMagic || std::memcmp(bytes.data, kMagic, sizeof kMagic) != 0)
    return Fail(error, kErrCorrupt, "not a patch file");
  if (bytes.size < 10) return Fail(error, kErrCorrupt, "header truncated");
  const uint16_t version = ReadU16(bytes.data + 8);
  if (version != kFormatVersion)
    return Fail(error, kErrFormatVersion,
                "format version " + std::to_string(version) + ", this engine reads " +
                    std::to_string(kFormatVersion));
  if (bytes.size < kHeaderSize) return Fail(error, kErrCorrupt, "header truncated");
  const uint8_t* h = bytes.data;
  if (Crc32(ByteView(h, 36)) != ReadU32(h + 36)) return Fail(error, kErrCorrupt, "header checksum mismatch");
  if (ReadU16(h + 10) != kHeaderSize) return Fail(error, kErrCorrupt, "unexpected header size");
  const uint32_t flags = ReadU32(h + 12);
  const uint32_t entryCount = ReadU32(h + 16);
  const uint32_t bodySize = ReadU32(h + 28);
  if (flags & ~kKnownFlags) return Fail(error, kErrCorrupt, "unknown flags");
  if ((flags & kFlagAnnounce) && (flags & kFlagNoAnnounce))
    return Fail(error, kErrCorrupt, "conflicting flags");
  if (bytes.size - kHeaderSize < bodySize) return Fail(error, kErrCorrupt, "truncated");
  if (bytes.size - kHeaderSize > bodySize) return Fail(error, kErrCorrupt, "bytes after the last entry");
  const ByteView body(bytes.data + kHeaderSize, bodySize);
  if (Crc32(body) != ReadU32(h + 32)) return Fail(error, kErrCorrupt, "body checksum mismatch");
  if (entryCount > bodySize / kEntryHeadSize) return Fail(error, kErrCorrupt, "entry count too large");

  out->header.flags = flags;
  out->header.biggest = ReadU32(h + 20);
  out->header.announced = ReadU32(h + 24);
  out->entries.reserve(entryCount);
  size_t pos = 0;
  for (uint32_t i = 0; i < entryCount; ++i) {
    if (body.size - pos < kEntryHeadSize) return Fail(error, kErrCorrupt, EntryLabel(i) + ": truncated");
    const uint8_t* e = body.data + pos;
    PatchEntry entry;
    entry.op = static_cast<Op>(e[0]);
    if (e[0] < static_cast<uint8_t>(Op::Add) || e[0] > static_cast<uint8_t>(Op::Notice))
      return Fail(error, kErrCorrupt, EntryLabel(i) + ": unknown operation");
    entry.noticeId = e[1];
    const uint16_t nameLength = ReadU16(e + 2);
    entry.oldSize = ReadU32(e + 4);
    entry.oldCrc = ReadU32(e + 8);
    entry.newSize = ReadU32(e + 12);
    entry.newCrc = ReadU32(e + 16);
    entry.delayMs = ReadU32(e + 20);
    const uint32_t payloadLength = ReadU32(e + 24);
    pos += kEntryHeadSize;
    if (static_cast<uint64_t>(nameLength) + payloadLength > body.size - pos)
      return Fail(error, kErrCorrupt, EntryLabel(i) + ": truncated");
    entry.name.assign(reinterpret_cast<const char*>(body.data + pos), nameLength);
    pos += nameLength;
    entry.payload = ByteView(body.data + pos, payloadLength);
    pos += payloadLength;
    if (!CheckEntry(entry, i, error)) return false;
    out->entries.push_back(std::move(entry));
  }
  if (pos != body.size) return Fail(error, kErrCorrupt, "bytes after the last entry");

  std::vector<std::string> names;
  for (const PatchEntry& entry : out->entries)
    if (entry.IsFile()) names.push_back(FoldCase(entry.name));
  std::sort(names.begin(), names.end());
  if (std::adjacent_find(names.begin(), names.end()) != names.end())
    return Fail(error, kErrCorrupt, "a file is named twice");
  return true;
}

bool WritePatch(const PatchHeader& header, const std::vector<PatchEntry>& entries, Buffer* out) {
  uint64_t total = kHeaderSize;
  for (const PatchEntry& entry : entries) total += kEntryHeadSize + entry.name.size() + entry.payload.size;
  if (total > 0xFFFFFFFFu || !out->Resize(static_cast<size_t>(total))) return false;
  uint8_t* p = out->data();
  std::memcpy(p, kMagic, sizeof kMagic);
  WriteU16(p + 8, kFormatVersion);
  WriteU16(p + 10, kHeaderSize);
  WriteU32(p + 12, header.flags);
  WriteU32(p + 16, static_cast<uint32_t>(entries.size()));
  WriteU32(p + 20, header.biggest);
  WriteU32(p + 24, header.announced);
  WriteU32(p + 28, static_cast<uint32_t>(total - kHeaderSize));
  size_t pos = kHeaderSize;
  for (const PatchEntry& entry : entries) {
    uint8_t* e = p + pos;
    e[0] = static_cast<uint8_t>(entry.op);
    e[1] = entry.noticeId;
    WriteU16(e + 2, static_cast<uint16_t>(entry.name.size()));
    WriteU32(e + 4, entry.oldSize);
    WriteU32(e + 8, entry.oldCrc);
    WriteU32(e + 12, entry.newSize);
    WriteU32(e + 16, entry.newCrc);
    WriteU32(e + 20, entry.delayMs);
    WriteU32(e + 24, static_cast<uint32_t>(entry.payload.size));
    pos += kEntryHeadSize;
    if (!entry.name.empty()) std::memcpy(p + pos, entry.name.data(), entry.name.size());
    pos += entry.name.size();
    if (entry.payload.size) std::memcpy(p + pos, entry.payload.data, entry.payload.size);
    pos += entry.payload.size;
  }
  WriteU32(p + 32, Crc32(ByteView(p + kHeaderSize, pos - kHeaderSize)));
  WriteU32(p + 36, Crc32(ByteView(p, 36)));
  return true;
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
