#pragma once
// The apply's stream half: builds the written files of a patch, one after another, from its streams
// and the old files, into sinks the run gives it. The streams run on across files, so the files must be
// built in directory order.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/fs/FileSystem.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

// Where the bytes a file is built of go, and how the caller learns how far it got.
class BuildSink {
 public:
  virtual ~BuildSink() = default;
  // False to stop (the caller asked, or writing failed).
  virtual bool Put(ByteView bytes) = 0;
};

// Where the old files the copies come from are read.
class OldFiles {
 public:
  virtual ~OldFiles() = default;
  // Opens the patch's source number `source`.
  virtual FsStatus Open(size_t source, std::unique_ptr<Source>* out) = 0;
};

class TreeBuilder {
 public:
  TreeBuilder(const Patch& patch, Source& patchFile, OldFiles& old);
  ~TreeBuilder();

  // Opens the streams, calling `alive` now and then while a decoder reads the old files (false stops):
  // 0, kErrCorrupt, kErrNoMemory, kErrAborted, or kErrRead or kErrFileNotFound (an old file; `detail`
  // names it).
  uint32_t Open(const std::function<bool()>& alive, std::string* detail);
  // Builds the next written file into `out`: 0, or kErrCorrupt (the streams break a rule), kErrRead or
  // kErrFileNotFound (an old file; `detail` names it), kErrPatchUnreadable, kErrNoMemory, or kErrWrite
  // when `out` refused. The size is the directory's; the caller sums and checks the bytes.
  uint32_t Build(const TreeFile& file, BuildSink& out, std::string* detail);
  // After the last file: every stream used up exactly and its stored bytes intact.
  uint32_t Finish();

 private:
  class OldSpace;
  uint32_t StreamError() const;
  // The old bytes of `n` at `pos` in a cover, into old[0..n); when `around`, with the bytes its
  // differences are told by (old[-kContextBefore..n + kContextAfter), zero outside the cover).
  uint32_t ReadWindow(uint64_t coverStart, uint64_t coverEnd, uint64_t pos, size_t n, bool around,
                      uint8_t* old, std::string* detail);

  const Patch& mPatch;
  Source& mPatchFile;
  std::unique_ptr<OldSpace> mOld;
  std::unique_ptr<MemorySource> mHeld[kStreamCount];  // where the streams the directory holds are read
  std::unique_ptr<StreamDecoder> mStreams[kStreamCount];
  uint64_t mLastOldEnd = 0;
  std::unique_ptr<uint8_t[]> mScratch;  // a window of old bytes with its margins, and its differences
};

}  // namespace rtp
