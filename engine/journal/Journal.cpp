#include "engine/journal/Journal.h"

#include <cstring>

#include "engine/base/Crc32c.h"
#include "engine/base/Varint.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

namespace {

constexpr uint8_t kJournalMagic[4] = {'T', 'P', 'J', '1'};
constexpr uint64_t kIdentityBytes = 64 * 1024;
constexpr uint8_t kWrite = 1;
constexpr uint8_t kDelete = 2;
constexpr uint8_t kRewrite = 3;     // in place, over an old file
constexpr uint8_t kWriteNew = 4;    // in place, a file new to the client
constexpr uint8_t kDeleteKept = 5;  // deleted at once, its bytes kept
constexpr uint8_t kReplace = 6;     // staged beside an old file (kWrite: beside none, or not recorded)

uint8_t KindOf(const JournalEntry& entry) {
  if (!entry.write) return entry.inPlace ? kDeleteKept : kDelete;
  if (!entry.inPlace) return entry.hasOld ? kReplace : kWrite;
  return entry.hasOld ? kRewrite : kWriteNew;
}

}  // namespace

const char* JournalName(JournalState state) {
  switch (state) {
    case JournalState::Staging:
      return "tesserine.~tpstage";
    case JournalState::Committing:
      return "tesserine.~tpcommit";
    case JournalState::Done:
      return "tesserine.~tpdone";
  }
  return "";
}

bool IdentityOf(Source& patch, PatchIdentity* out) {
  out->size = patch.Size();
  const size_t length = static_cast<size_t>(out->size < kIdentityBytes ? out->size : kIdentityBytes);
  std::unique_ptr<uint8_t[]> head = NewBytes(length ? length : 1);
  if (!head || !patch.ReadAt(0, head.get(), length)) return false;
  out->sum = Crc32c(ByteView(head.get(), length));
  return true;
}

void EncodeJournal(const Journal& journal, std::vector<uint8_t>* out) {
  out->assign(kJournalMagic, kJournalMagic + sizeof kJournalMagic);
  PutFixed32(out, journal.patch.sum);
  PutVarint(out, journal.patch.size);
  PutVarint(out, journal.entries.size());
  for (const JournalEntry& entry : journal.entries) {
    out->push_back(KindOf(entry));
    PutVarint(out, entry.name.size());
    out->insert(out->end(), entry.name.begin(), entry.name.end());
  }
  PutFixed32(out, Crc32c(ByteView(out->data(), out->size())));
}

bool DecodeJournal(ByteView bytes, Journal* out) {
  if (bytes.size < sizeof kJournalMagic + 4 ||
      std::memcmp(bytes.data, kJournalMagic, sizeof kJournalMagic) != 0)
    return false;
  const size_t body = bytes.size - 4;
  if (Crc32c(ByteView(bytes.data, body)) != ReadU32(bytes.data + body)) return false;
  VarintReader in(bytes.data + sizeof kJournalMagic, body - sizeof kJournalMagic);
  out->patch.sum = in.Fixed32();
  out->patch.size = in.Number();
  // Every entry takes three bytes at least: a count beyond that is not ours.
  const uint64_t count = in.Bounded(in.Left() / 3);
  if (!in.Ok()) return false;
  out->entries.clear();
  out->entries.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t kind = in.Number();
    const size_t length = static_cast<size_t>(in.Bounded(in.Left()));
    const uint8_t* name = in.Take(length);
    if (!name || kind < kWrite || kind > kReplace) return false;
    JournalEntry entry;
    entry.write = kind != kDelete && kind != kDeleteKept;
    entry.inPlace = kind >= kRewrite && kind <= kDeleteKept;
    entry.hasOld = kind == kRewrite || kind == kDeleteKept || kind == kReplace;
    entry.name.assign(reinterpret_cast<const char*>(name), length);
    if (!IsValidName(entry.name)) return false;
    out->entries.push_back(std::move(entry));
  }
  return in.Ok() && in.AtEnd();
}

}  // namespace rtp
