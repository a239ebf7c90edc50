#include "engine/format/Delta.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "engine/EngineAbi.h"

namespace rtp {

namespace {

constexpr uint8_t kEnd = 0x00;
constexpr uint8_t kCopy = 0x01;
constexpr uint8_t kInsert = 0x02;

// Matches shorter than this cost more as a copy than as inserted bytes.
constexpr uint64_t kMinBlock = 16;
// The old file's index holds at most this many blocks (larger files get larger blocks), in a table of
// twice as many slots: 16 MiB at most.
constexpr uint64_t kMaxBlocks = uint64_t{1} << 20;
constexpr int kMaxTableBits = 21;
// Slots looked at from a hash's home slot, when storing and when finding.
constexpr size_t kProbe = 4;
// Bytes of the new file that found no copy yet, held before they go out as one insert.
constexpr uint64_t kMaxPending = kChunkSize;
// How far back a match is grown over pending bytes in one read of the old file.
constexpr size_t kBackStep = 4096;
constexpr uint64_t kHashFactor = 0x100000001B3ull;

// The instructions of one payload, read through a reader shared with whatever surrounds them.
class Instructions {
 public:
  Instructions(StreamReader& reader, uint64_t length) : mReader(reader), mLeft(length) {}
  bool AtEnd() const { return mLeft == 0; }
  uint64_t Left() const { return mLeft; }
  bool Byte(uint8_t* out) {
    if (mLeft == 0 || !mReader.Read(out, 1)) return false;
    --mLeft;
    return true;
  }
  bool Number(uint32_t* out) {
    uint64_t value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      uint8_t b;
      if (!Byte(&b)) return false;
      value |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) {
        if (value > 0xFFFFFFFFu) return false;
        *out = static_cast<uint32_t>(value);
        return true;
      }
    }
    return false;
  }
  bool Take(size_t most, ByteView* out) {
    if (!mReader.Take(static_cast<size_t>(std::min<uint64_t>(most, mLeft)), out)) return false;
    mLeft -= out->size;
    return true;
  }

 private:
  StreamReader& mReader;
  uint64_t mLeft;
};

// Walks the instructions; `old` and `out` null only check them.
uint32_t Run(StreamReader& reader, uint64_t length, uint32_t oldSize, uint64_t newSize, WindowReader* old,
             ByteSink* out) {
  Instructions in(reader, length);
  const auto unreadable = [&]() { return reader.Failed() ? kErrPatchUnreadable : kErrCorrupt; };
  uint64_t written = 0;
  for (;;) {
    uint8_t op;
    if (!in.Byte(&op)) return unreadable();
    if (op == kEnd) return in.AtEnd() && written == newSize ? kOk : kErrCorrupt;
    uint32_t count;
    if (op == kCopy) {
      uint32_t offset;
      if (!in.Number(&offset) || !in.Number(&count)) return unreadable();
      if (count == 0 || static_cast<uint64_t>(offset) + count > oldSize || written + count > newSize)
        return kErrCorrupt;
      for (uint64_t done = 0; out && done < count;) {
        ByteView piece;
        if (!old->Get(offset + done, static_cast<size_t>(count - done), &piece)) return kErrRead;
        if (!out->Put(piece)) return kErrWrite;
        done += piece.size;
      }
    } else if (op == kInsert) {
      if (!in.Number(&count)) return unreadable();
      if (count == 0 || written + count > newSize || count > in.Left()) return kErrCorrupt;
      for (uint64_t done = 0; done < count;) {
        ByteView piece;
        if (!in.Take(static_cast<size_t>(count - done), &piece)) return unreadable();
        if (out && !out->Put(piece)) return kErrWrite;
        done += piece.size;
      }
    } else {
      return kErrCorrupt;
    }
    written += count;
  }
}

bool PutNumber(ByteSink& out, uint8_t op, uint32_t a, uint32_t b, bool two) {
  uint8_t bytes[11];
  size_t length = 0;
  bytes[length++] = op;
  for (int i = 0; i < (two ? 2 : 1); ++i) {
    uint32_t value = i == 0 ? a : b;
    while (value >= 0x80) {
      bytes[length++] = static_cast<uint8_t>(value | 0x80);
      value >>= 7;
    }
    bytes[length++] = static_cast<uint8_t>(value);
  }
  return out.Put(ByteView(bytes, length));
}

struct Slot {
  uint32_t check = 0;
  uint32_t block = 0;  // block number + 1; 0 is an empty slot
};

class DeltaMaker {
 public:
  DeltaMaker(Source& oldFile, Source& newFile, ByteSink& out)
      : mOldSource(oldFile), mOld(oldFile), mNew(newFile), mOut(out), mNewSize(newFile.Size()) {}

  bool Make() {
    const uint64_t oldSize = mOld.Size();
    if (oldSize > 0xFFFFFFFFu || mNewSize > 0xFFFFFFFFu || !mOld.Ok()) return false;
    mBlock = std::max(kMinBlock, (oldSize + kMaxBlocks - 1) / kMaxBlocks);
    const uint64_t blocks = oldSize / mBlock;
    mCapacity = static_cast<size_t>(std::min<uint64_t>(mNewSize, kMaxPending + kChunkSize));
    mWindow = NewBytes(mCapacity);
    if (!mWindow || (blocks && !Index(blocks))) return false;
    uint64_t top = 1;  // kHashFactor^(block - 1), what the byte leaving the window weighed
    for (uint64_t i = 1; i < mBlock; ++i) top *= kHashFactor;

    uint64_t pos = 0;
    uint64_t literal = 0;
    uint64_t hash = 0;
    bool hashed = false;
    while (blocks && pos + mBlock <= mNewSize) {
      if (pos - literal >= kMaxPending) {
        if (!Insert(literal, pos)) return false;
        literal = pos;
      }
      if (!Hold(literal, pos + mBlock + 1)) return false;
      if (!hashed) {
        hash = 0;
        for (uint64_t i = 0; i < mBlock; ++i) hash = hash * kHashFactor + At(pos + i);
        hashed = true;
      }
      uint64_t match;
      bool found;
      if (!Find(hash, pos, &match, &found)) return false;
      if (found) {
        uint64_t from = pos;
        if (!GrowBack(literal, &from, &match) || !Insert(literal, from)) return false;
        uint64_t length;
        if (!GrowForward(from, match, &length) ||
            !PutNumber(mOut, kCopy, static_cast<uint32_t>(match), static_cast<uint32_t>(length), true))
          return false;
        pos = literal = from + length;
        hashed = false;
        continue;
      }
      if (pos + mBlock < mNewSize) hash = (hash - At(pos) * top) * kHashFactor + At(pos + mBlock);
      ++pos;
    }
    while (literal < mNewSize) {
      const uint64_t to = std::min(mNewSize, literal + kMaxPending);
      if (!Hold(literal, to) || !Insert(literal, to)) return false;
      literal = to;
    }
    const uint8_t end = kEnd;
    return mOut.Put(ByteView(&end, 1));
  }

 private:
  static uint32_t Check(uint64_t hash) { return static_cast<uint32_t>(hash ^ (hash >> 32)); }
  size_t Home(uint64_t hash) const {
    return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> (64 - mTableBits));
  }

  bool Index(uint64_t blocks) {
    while (mTableBits < kMaxTableBits && (uint64_t{1} << mTableBits) < 2 * blocks) ++mTableBits;
    const size_t slots = size_t{1} << mTableBits;
    mTable.reset(new (std::nothrow) Slot[slots]);
    std::unique_ptr<uint8_t[]> block = NewBytes(static_cast<size_t>(mBlock));
    StreamReader reader(mOldSource, 0, blocks * mBlock);
    if (!mTable || !block || !reader.Ok()) return false;
    for (uint64_t b = 0; b < blocks; ++b) {
      if (!reader.Read(block.get(), static_cast<size_t>(mBlock))) return false;
      uint64_t hash = 0;
      for (uint64_t i = 0; i < mBlock; ++i) hash = hash * kHashFactor + block[i];
      for (size_t probe = 0, at = Home(hash); probe < kProbe; ++probe, at = (at + 1) & (slots - 1)) {
        // A block like one already stored (a run of zeros, say) takes no second slot.
        if (mTable[at].block && mTable[at].check == Check(hash)) break;
        if (mTable[at].block == 0) {
          mTable[at].check = Check(hash);
          mTable[at].block = static_cast<uint32_t>(b + 1);
          break;
        }
      }
    }
    return true;
  }

  // Keeps the new file's bytes [from, to) in the window, `from` never before the window's start.
  bool Hold(uint64_t from, uint64_t to) {
    to = std::min(to, mNewSize);
    if (to <= mWindowAt + mWindowLength) return true;
    const uint64_t end = mWindowAt + mWindowLength;
    const size_t keep = end > from ? static_cast<size_t>(end - from) : 0;
    if (keep) std::memmove(mWindow.get(), mWindow.get() + (from - mWindowAt), keep);
    mWindowAt = from;
    mWindowLength = keep;
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(mCapacity - keep, mNewSize - (mWindowAt + keep)));
    if (!mNew.ReadAt(mWindowAt + keep, mWindow.get() + keep, want)) return false;
    mWindowLength += want;
    return to <= mWindowAt + mWindowLength;
  }
  uint8_t At(uint64_t offset) const { return mWindow[static_cast<size_t>(offset - mWindowAt)]; }
  const uint8_t* Ptr(uint64_t offset) const { return mWindow.get() + (offset - mWindowAt); }

  // The old bytes [offset, offset + length) in one piece (length at most the old window).
  bool OldBytes(uint64_t offset, size_t length, const uint8_t** out) {
    ByteView piece;
    if (!mOld.GetAll(offset, length, &piece)) return false;
    *out = piece.data;
    return true;
  }

  bool Find(uint64_t hash, uint64_t pos, uint64_t* match, bool* found) {
    *found = false;
    const size_t slots = size_t{1} << mTableBits;
    for (size_t probe = 0, at = Home(hash); probe < kProbe && mTable[at].block;
         ++probe, at = (at + 1) & (slots - 1)) {
      if (mTable[at].check != Check(hash)) continue;
      const uint64_t offset = (mTable[at].block - 1) * mBlock;
      const uint8_t* old;
      if (!OldBytes(offset, static_cast<size_t>(mBlock), &old)) return false;
      if (std::memcmp(old, Ptr(pos), static_cast<size_t>(mBlock)) == 0) {
        *match = offset;
        *found = true;
        return true;
      }
    }
    return true;
  }

  // Grows a match backwards over the pending bytes.
  bool GrowBack(uint64_t literal, uint64_t* from, uint64_t* match) {
    while (*from > literal && *match > 0) {
      const size_t step = static_cast<size_t>(std::min<uint64_t>({*from - literal, *match, kBackStep}));
      const uint8_t* old;
      if (!OldBytes(*match - step, step, &old)) return false;
      size_t same = 0;
      while (same < step && old[step - 1 - same] == At(*from - 1 - same)) ++same;
      *from -= same;
      *match -= same;
      if (same < step) break;
    }
    return true;
  }

  // The length of the match from `from` (new) and `match` (old), as far as both files agree.
  bool GrowForward(uint64_t from, uint64_t match, uint64_t* length) {
    uint64_t done = 0;
    const uint64_t oldSize = mOld.Size();
    while (from + done < mNewSize && match + done < oldSize) {
      if (!Hold(from + done, from + done + kChunkSize)) return false;
      ByteView old;
      if (!mOld.Get(match + done, kChunkSize, &old)) return false;
      const size_t n =
          static_cast<size_t>(std::min<uint64_t>(old.size, mWindowAt + mWindowLength - (from + done)));
      const uint8_t* fresh = Ptr(from + done);
      size_t same = 0;
      if (std::memcmp(old.data, fresh, n) == 0)
        same = n;
      else
        while (old.data[same] == fresh[same]) ++same;
      done += same;
      if (same < n) break;
    }
    *length = done;
    return true;
  }

  // Puts out the new bytes [from, to) as inserts; they are in the window.
  bool Insert(uint64_t from, uint64_t to) {
    if (from == to) return true;
    return PutNumber(mOut, kInsert, static_cast<uint32_t>(to - from), 0, false) &&
           mOut.Put(ByteView(Ptr(from), static_cast<size_t>(to - from)));
  }

  Source& mOldSource;
  WindowReader mOld;
  Source& mNew;
  ByteSink& mOut;
  uint64_t mNewSize;
  uint64_t mBlock = kMinBlock;
  int mTableBits = 8;
  std::unique_ptr<Slot[]> mTable;
  std::unique_ptr<uint8_t[]> mWindow;
  size_t mCapacity = 0;
  uint64_t mWindowAt = 0;
  size_t mWindowLength = 0;
};

// Puts bytes into a block of memory of a fixed size.
class ArraySink : public ByteSink {
 public:
  ArraySink(uint8_t* out, size_t size) : mOut(out), mSize(size) {}
  bool Put(ByteView bytes) override {
    if (bytes.size > mSize - mFilled) return false;
    if (bytes.size) std::memcpy(mOut + mFilled, bytes.data, bytes.size);
    mFilled += bytes.size;
    return true;
  }

 private:
  uint8_t* mOut;
  size_t mSize;
  size_t mFilled = 0;
};

class VectorSink : public ByteSink {
 public:
  explicit VectorSink(std::vector<uint8_t>* out) : mOut(out) {}
  bool Put(ByteView bytes) override {
    mOut->insert(mOut->end(), bytes.data, bytes.data + bytes.size);
    return true;
  }

 private:
  std::vector<uint8_t>* mOut;
};

}  // namespace

uint32_t CheckDelta(StreamReader& delta, uint64_t length, uint32_t oldSize, uint32_t newSize) {
  return Run(delta, length, oldSize, newSize, nullptr, nullptr);
}

uint32_t ApplyDelta(Source& patch, uint64_t offset, uint32_t length, Source& oldFile, uint32_t newSize,
                    ByteSink& out) {
  if (oldFile.Size() > 0xFFFFFFFFu) return kErrCorrupt;
  StreamReader reader(patch, offset, length);
  WindowReader old(oldFile);
  if (!reader.Ok() || !old.Ok()) return kErrNoMemory;
  return Run(reader, length, static_cast<uint32_t>(old.Size()), newSize, &old, &out);
}

bool MakeDelta(Source& oldFile, Source& newFile, ByteSink& out) {
  DeltaMaker maker(oldFile, newFile, out);
  return maker.Make();
}

bool CheckDelta(ByteView delta, uint32_t oldSize, uint32_t newSize) {
  MemorySource source(delta);
  StreamReader reader(source, 0, delta.size);
  return reader.Ok() && CheckDelta(reader, delta.size, oldSize, newSize) == kOk;
}

bool ApplyDelta(ByteView oldFile, ByteView delta, uint8_t* out, size_t newSize) {
  if (delta.size > 0xFFFFFFFFu || newSize > 0xFFFFFFFFu) return false;
  MemorySource patch(delta);
  MemorySource old(oldFile);
  ArraySink sink(out, newSize);
  return ApplyDelta(patch, 0, static_cast<uint32_t>(delta.size), old, static_cast<uint32_t>(newSize), sink) ==
         kOk;
}

bool MakeDelta(ByteView oldFile, ByteView newFile, std::vector<uint8_t>* out) {
  out->clear();
  MemorySource oldSource(oldFile);
  MemorySource newSource(newFile);
  VectorSink sink(out);
  return MakeDelta(oldSource, newSource, sink);
}

}  // namespace rtp
