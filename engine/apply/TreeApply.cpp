#include "engine/apply/TreeApply.h"

#include <algorithm>
#include <cstring>

#include "engine/apply/Errors.h"
#include "engine/base/Varint.h"

namespace rtp {

namespace {

constexpr size_t kScratch = kChunkSize;

}  // namespace

// The old files laid end to end, read through one window over the file last read from; reads of a
// window's size or more go straight into the caller's memory.
// A codec's decoder reads it whole, in pieces, before the first file: the caller's window is kept alive
// between pieces (one before each but the first), and the first failure is kept with the file it names.
class TreeBuilder::OldSpace final : public OldBytes {
 public:
  OldSpace(const Patch& patch, OldFiles& files) : mPatch(patch), mFiles(files) {}

  uint64_t Size() const override {
    return mPatch.sources.empty() ? 0 : mPatch.sources.back().start + mPatch.sources.back().size;
  }

  void KeepAlive(std::function<bool()> alive) { mAlive = std::move(alive); }
  bool Read(uint64_t at, uint8_t* out, size_t length) override {
    if (at != 0 && mAlive && !mAlive()) mFailure = kErrAborted;
    if (!mFailure) mFailure = Read(at, out, length, &mFailedName);
    return mFailure == kOk;
  }
  // 0, or why a decoder's read failed (`detail` then names the file).
  uint32_t Failure(std::string* detail) const {
    if (mFailure) *detail = mFailedName;
    return mFailure;
  }

  // 0, kErrFileNotFound, kErrRead (an old file shorter than the directory says is kErrMismatch).
  uint32_t Read(uint64_t pos, uint8_t* out, size_t length, std::string* detail) {
    while (length) {
      const size_t index = SourceAt(pos);
      const SourceFile& source = mPatch.sources[index];
      const uint64_t within = pos - source.start;
      const size_t n = static_cast<size_t>(std::min<uint64_t>(length, source.size - within));
      if (const uint32_t failed = Select(index, detail)) return failed;
      if (source.translated) {
        if (const uint32_t failed = ReadTranslated(index, within, out, n, detail)) return failed;
      } else if (n >= kWindow) {
        if (!mFile->ReadAt(within, out, n)) return Failed(index, detail);
      } else {
        if (within < mWindowAt || within + n > mWindowAt + mWindowLength) {
          mWindowAt = within;
          mWindowLength = static_cast<size_t>(std::min<uint64_t>(kWindow, source.size - within));
          if (!mFile->ReadAt(mWindowAt, mWindow.get(), mWindowLength)) {
            mWindowLength = 0;
            return Failed(index, detail);
          }
        }
        std::memcpy(out, mWindow.get() + (within - mWindowAt), n);
      }
      pos += n;
      out += n;
      length -= n;
    }
    return kOk;
  }

 private:
  static constexpr size_t kWindow = 256 * 1024;

  size_t SourceAt(uint64_t pos) const {
    size_t lo = 0, hi = mPatch.sources.size();
    while (hi - lo > 1) {
      const size_t mid = lo + (hi - lo) / 2;
      if (mPatch.sources[mid].start <= pos)
        lo = mid;
      else
        hi = mid;
    }
    // Empty sources share their start with the next: take the one that holds the byte.
    while (lo + 1 < mPatch.sources.size() && mPatch.sources[lo].size == 0) ++lo;
    return lo;
  }

  // The old bytes as the new executable would have them (PeTranslate.h), in pieces with margins.
  uint32_t ReadTranslated(size_t index, uint64_t within, uint8_t* out, size_t length, std::string* detail) {
    const uint64_t size = mPatch.sources[index].size;
    while (length) {
      const size_t n = std::min(length, kWindow);
      const uint64_t rawAt = within >= kTranslateMargin ? within - kTranslateMargin : 0;
      const uint64_t rawEnd = std::min<uint64_t>(size, within + n + kTranslateMargin);
      if (!mFile->ReadAt(rawAt, mRaw.get(), static_cast<size_t>(rawEnd - rawAt)))
        return Failed(index, detail);
      TranslateRange(mLayout, mPatch.sources[index].map, mRaw.get(), rawAt, rawEnd, within, n, out);
      within += n;
      out += n;
      length -= n;
    }
    return kOk;
  }

  uint32_t Select(size_t index, std::string* detail) {
    if (mFile && mIndex == index) return kOk;
    mFile.reset();
    mWindowLength = 0;
    if (!mWindow) mWindow = NewBytes(kWindow);
    if (!mWindow) return kErrNoMemory;
    const FsStatus status = mFiles.Open(index, &mFile);
    if (status != FsStatus::Ok) {
      *detail = mPatch.sources[index].name;
      mFile.reset();
      return ErrorNumberOf(status, kErrRead);
    }
    if (mFile->Size() != mPatch.sources[index].size) {
      *detail = mPatch.sources[index].name;
      mFile.reset();
      return kErrMismatch;
    }
    if (mPatch.sources[index].translated) {
      if (!mRaw) mRaw = NewBytes(kWindow + 2 * kTranslateMargin);
      if (!mRaw) return kErrNoMemory;
      // The builder read this file as an executable: one that is none is not the old version.
      if (!ParsePe(*mFile, &mLayout)) {
        *detail = mPatch.sources[index].name;
        mFile.reset();
        return kErrMismatch;
      }
    }
    mIndex = index;
    return kOk;
  }

  uint32_t Failed(size_t index, std::string* detail) {
    *detail = mPatch.sources[index].name;
    return kErrRead;
  }

  const Patch& mPatch;
  OldFiles& mFiles;
  std::function<bool()> mAlive;
  uint32_t mFailure = kOk;
  std::string mFailedName;
  std::unique_ptr<Source> mFile;
  size_t mIndex = 0;
  std::unique_ptr<uint8_t[]> mWindow;
  std::unique_ptr<uint8_t[]> mRaw;
  PeLayout mLayout;
  uint64_t mWindowAt = 0;
  size_t mWindowLength = 0;
};

TreeBuilder::TreeBuilder(const Patch& patch, Source& patchFile, OldFiles& old)
    : mPatch(patch), mPatchFile(patchFile), mOld(new (std::nothrow) OldSpace(patch, old)) {}

TreeBuilder::~TreeBuilder() = default;

uint32_t TreeBuilder::Open(const std::function<bool()>& alive, std::string* detail) {
  mScratch = NewBytes(kContextBefore + kScratch + kContextAfter + kScratch);
  if (!mOld || !mScratch) return kErrNoMemory;
  mOld->KeepAlive(alive);
  uint64_t decoderMemory = 0;
  for (int s = 0; s < kStreamCount; ++s) {
    const StreamInfo& info = mPatch.streams[s];
    if (info.storedSize) decoderMemory += EntryOf(info.codec).decoderMemory(info.decodedSize, mOld->Size());
    mStreams[s].reset(new (std::nothrow) StreamDecoder);
    if (!mStreams[s]) return kErrNoMemory;
    bool noMemory = false;
    if (decoderMemory > kMaxDecoderMemory) return kErrCorrupt;
    // A stream the directory holds is read from the parsed directory.
    Source* from = &mPatchFile;
    if (info.codec == Codec::InDirectory) {
      const std::vector<uint8_t>& held = mPatch.held[s];
      mHeld[s].reset(new (std::nothrow) MemorySource(ByteView(held.data(), held.size())));
      if (!mHeld[s]) return kErrNoMemory;
      from = mHeld[s].get();
    }
    if (!mStreams[s]->Open(*from, info.offset, info.storedSize, info.decodedSize, info.codec, &noMemory,
                           mOld.get())) {
      if (const uint32_t failed = mOld->Failure(detail)) return failed;
      return noMemory ? kErrNoMemory : kErrCorrupt;
    }
  }
  mOld->KeepAlive(nullptr);
  return kOk;
}

uint32_t TreeBuilder::StreamError() const {
  for (const auto& stream : mStreams)
    if (stream->ReadFailed()) return kErrPatchUnreadable;
  return kErrCorrupt;
}

uint32_t TreeBuilder::ReadWindow(uint64_t coverStart, uint64_t coverEnd, uint64_t pos, size_t n, bool around,
                                 uint8_t* old, std::string* detail) {
  if (!around) return mOld->Read(pos, old, n, detail);
  const uint64_t from = std::max(coverStart, pos - std::min<uint64_t>(pos, kContextBefore));
  const uint64_t to = std::min(coverEnd, pos + n + kContextAfter);
  std::memset(old - kContextBefore, 0, kContextBefore + n + kContextAfter);
  return mOld->Read(from, old - (pos - from), static_cast<size_t>(to - from), detail);
}

uint32_t TreeBuilder::Build(const TreeFile& file, BuildSink& out, std::string* detail) {
  StreamDecoder& literalLengths = *mStreams[kLiteralLengths];
  StreamDecoder& coverLengths = *mStreams[kCoverLengths];
  StreamDecoder& moves = *mStreams[kMoves];
  StreamDecoder& segments = *mStreams[kSegments];
  StreamDecoder& diff = *mStreams[kDiff];
  StreamDecoder& literals = *mStreams[kLiterals];
  const uint64_t oldSize = mOld->Size();
  uint8_t* scratch = mScratch.get();
  *detail = file.name;
  for (uint64_t left = file.newSize; left;) {
    uint64_t literal, coverCode;
    if (!literalLengths.ReadNumber(&literal) || !coverLengths.ReadNumber(&coverCode)) return StreamError();
    if (literal > left) return kErrCorrupt;
    // 1: an exact cover to the end of the file.
    const uint64_t cover = coverCode == 1 ? left - literal : coverCode >> 1;
    const bool hasDifferences = coverCode != 1 && (coverCode & 1);
    if ((literal == 0 && cover == 0) || cover > left - literal || (coverCode > 1 && cover == 0))
      return kErrCorrupt;
    for (uint64_t done = 0; done < literal;) {
      ByteView piece;
      if (!literals.Take(static_cast<size_t>(std::min<uint64_t>(literal - done, kScratch)), &piece))
        return StreamError();
      if (!out.Put(piece)) return kErrWrite;
      done += piece.size;
    }
    left -= literal;
    if (cover == 0) continue;
    uint64_t move;
    if (!moves.ReadNumber(&move)) return StreamError();
    const int64_t delta = UnfoldSigned(move);
    const uint64_t expected = mLastOldEnd + literal;
    const uint64_t start = expected + static_cast<uint64_t>(delta);
    if (expected < mLastOldEnd || (delta < 0 && static_cast<uint64_t>(-(delta + 1)) + 1 > expected) ||
        (delta > 0 && start < expected) || start > oldSize || cover > oldSize - start)
      return kErrCorrupt;
    uint64_t pos = start;
    for (uint64_t covered = 0; covered < cover;) {
      uint64_t differences = 0, exact = cover;
      if (hasDifferences && !segments.ReadNumber(&differences)) return StreamError();
      if (hasDifferences && !segments.ReadNumber(&exact)) return StreamError();
      if ((differences == 0 && exact == 0) || differences > cover - covered ||
          exact > cover - covered - differences)
        return kErrCorrupt;
      for (uint64_t done = 0; done < differences + exact;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(differences + exact - done, kScratch));
        const size_t changed =
            static_cast<size_t>(std::min<uint64_t>(n, done < differences ? differences - done : 0));
        uint8_t* old = scratch + kContextBefore;
        if (const uint32_t failed = ReadWindow(start, start + cover, pos, n, changed != 0, old, detail))
          return failed;
        if (changed) {
          uint8_t* added = old + kScratch + kContextAfter;
          if (!diff.ReadDifferences(old, changed, done == 0, added)) return StreamError();
          for (size_t k = 0; k < changed; ++k) old[k] = static_cast<uint8_t>(old[k] + added[k]);
        }
        if (!out.Put(ByteView(old, n))) return kErrWrite;
        pos += n;
        done += n;
      }
      covered += differences + exact;
    }
    mLastOldEnd = start + cover;
    left -= cover;
  }
  *detail = file.name;
  return kOk;
}

uint32_t TreeBuilder::Finish() {
  for (int s = 0; s < kStreamCount; ++s)
    if (!mStreams[s]->Finish()) return StreamError();
  return kOk;
}

}  // namespace rtp
