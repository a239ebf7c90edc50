#include "engine/journal/Kept.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/base/Crc32c.h"
#include "engine/base/Varint.h"

namespace rtp {

namespace {

constexpr uint8_t kKeepMagic[4] = {'T', 'P', 'K', '1'};
constexpr size_t kHeadSize = 16;
constexpr size_t kPiece = 256 * 1024;
// The file goes to the disk every so many bytes while it is written, so that no single sync (the caller
// sends nothing meanwhile) has much to write.
constexpr uint64_t kSyncEvery = 4u << 20;

// The CRC-32C of [at, at + size) of `file`, read through `buffer` (kPiece bytes); false when unreadable.
bool SumOf(Source& file, uint64_t at, uint64_t size, uint8_t* buffer, uint32_t* sum) {
  *sum = 0;
  for (uint64_t done = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, size - done));
    if (!file.ReadAt(at + done, buffer, n)) return false;
    *sum = Crc32c(ByteView(buffer, n), *sum);
    done += n;
  }
  return true;
}

}  // namespace

FsStatus KeepWriter::Add(uint32_t entry, Source& old, uint64_t* at) {
  if (!mBuffer) mBuffer = NewBytes(kPiece);
  if (!mBuffer) return FsStatus::NoMemory;
  if (!mSink) {
    const FsStatus created = mFs.Create(kKeepName, &mSink);
    if (created != FsStatus::Ok) return created;
    if (!mSink->WriteAt(0, ByteView(kKeepMagic, sizeof kKeepMagic))) return FsStatus::Failed;
    mEnd = sizeof kKeepMagic;
  }
  const uint64_t head = mEnd, size = old.Size();
  *at = head + kHeadSize;
  uint32_t sum = 0;
  for (uint64_t done = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, size - done));
    if (!old.ReadAt(done, mBuffer.get(), n)) return FsStatus::NotFound;
    if (!mSink->WriteAt(*at + done, ByteView(mBuffer.get(), n))) return FsStatus::Failed;
    sum = Crc32c(ByteView(mBuffer.get(), n), sum);
    done += n;
  }
  std::vector<uint8_t> fields;
  PutFixed32(&fields, entry);
  PutFixed64(&fields, size);
  PutFixed32(&fields, sum);
  if (!mSink->WriteAt(head, ByteView(fields.data(), fields.size()))) return FsStatus::Failed;
  mEnd = *at + size;
  mUnsynced += kHeadSize + size;
  if (mUnsynced < kSyncEvery) return FsStatus::Ok;
  mUnsynced = 0;
  return mSink->Sync() ? FsStatus::Ok : FsStatus::Failed;
}

FsStatus KeepWriter::Seal() {
  if (!mSink) return FsStatus::Ok;
  const bool synced = mSink->Sync();
  const bool closed = mSink->Close();
  mSink.reset();
  return synced && closed ? FsStatus::Ok : FsStatus::Failed;
}

FsStatus KeptFiles::Load(FileSystem& fs) {
  const FsStatus opened = fs.OpenRead(kKeepName, &mFile);
  if (opened != FsStatus::Ok) return opened;
  const uint64_t size = mFile->Size();
  uint8_t head[kHeadSize];
  if (size < sizeof kKeepMagic || !mFile->ReadAt(0, head, sizeof kKeepMagic) ||
      std::memcmp(head, kKeepMagic, sizeof kKeepMagic) != 0)
    return FsStatus::Failed;
  for (uint64_t at = sizeof kKeepMagic; at < size;) {
    if (size - at < kHeadSize || !mFile->ReadAt(at, head, kHeadSize)) return FsStatus::Failed;
    VarintReader fields(head, kHeadSize);
    const uint32_t entry = fields.Fixed32();
    Record record;
    record.at = at + kHeadSize;
    record.size = fields.Fixed64();
    record.sum = fields.Fixed32();
    if (record.size > size - record.at) return FsStatus::Failed;
    mRecords[entry] = record;
    at = record.at + record.size;
  }
  return FsStatus::Ok;
}

FsStatus KeptFiles::Restore(FileSystem& fs, uint32_t entry, const std::string& name) {
  if (!mFile) {
    const FsStatus loaded = Load(fs);
    if (loaded != FsStatus::Ok) {
      mFile.reset();
      return FsStatus::Failed;
    }
  }
  const auto found = mRecords.find(entry);
  if (found == mRecords.end()) return FsStatus::Failed;
  const Record& record = found->second;
  if (HoldsBytes(fs, name, record.size, record.sum)) return FsStatus::Ok;
  std::unique_ptr<uint8_t[]> buffer = NewBytes(kPiece);
  if (!buffer) return FsStatus::NoMemory;
  // The kept bytes are checked whole before the first of them is written back.
  uint32_t sum = 0;
  if (!SumOf(*mFile, record.at, record.size, buffer.get(), &sum) || sum != record.sum)
    return FsStatus::Failed;
  std::unique_ptr<Sink> sink;
  const FsStatus created = fs.Create(name, &sink);
  if (created != FsStatus::Ok) return created;
  for (uint64_t done = 0; done < record.size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, record.size - done));
    if (!mFile->ReadAt(record.at + done, buffer.get(), n) || !sink->WriteAt(done, ByteView(buffer.get(), n)))
      return FsStatus::Failed;
    done += n;
  }
  // On the disk before the keep file and the journal go.
  const bool synced = sink->Sync();
  return sink->Close() && synced ? FsStatus::Ok : FsStatus::Failed;
}

bool HoldsBytes(FileSystem& fs, const std::string& name, uint64_t size, uint32_t sum) {
  std::unique_ptr<Source> file;
  if (fs.OpenRead(name, &file) != FsStatus::Ok || file->Size() != size) return false;
  std::unique_ptr<uint8_t[]> buffer = NewBytes(kPiece);
  uint32_t found = 0;
  return buffer && SumOf(*file, 0, size, buffer.get(), &found) && found == sum;
}

}  // namespace rtp
