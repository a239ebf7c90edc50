#include "engine/apply/Apply.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "engine/apply/Callbacks.h"
#include "engine/apply/Errors.h"
#include "engine/apply/TreeApply.h"
#include "engine/base/Crc32c.h"
#include "engine/format/PatchFormat.h"
#include "engine/journal/Transaction.h"

namespace rtp {

namespace {

constexpr uint16_t kProgressBuilt = 0x2000;
constexpr uint16_t kProgressWritten = 0x6000;
constexpr uint16_t kProgressDone = 0x8000;

constexpr char kUndoneLine[] = "An interrupted update was undone: the client is as it was before it";
constexpr char kFinishedLine[] = "An interrupted update was finished";
constexpr char kRestoredLine[] = "The client was restored to its previous version";
constexpr char kNotRestoredLine[] = "The client could not be restored yet: the next update run restores it";

bool SendText(Listener& listener, uint32_t id, const std::string& text) {
  std::string copy = text;  // the receiver gets a writable, zero-terminated copy
  return listener.Notify(id, &copy[0]);
}

bool SendNumber(Listener& listener, uint32_t id, uint32_t number) {
  uint32_t value = number;
  return listener.Notify(id, &value);
}

// Where progress stands after `done` of `total` bytes of a step that goes from `from` to `to`.
uint16_t Between(uint16_t from, uint16_t to, uint64_t done, uint64_t total) {
  if (total == 0 || done >= total) return to;
  return static_cast<uint16_t>(from + (to - from) * done / total);
}

// One client file of a run.
struct RunFile {
  std::string name;
  bool write = true;     // false: the file is deleted
  bool hasOld = false;   // an old file of this name is replaced or deleted
  uint64_t oldSize = 0;  // checked before anything is written
  uint64_t newSize = 0;
  uint32_t newCrc = 0;  // CRC-32C
  const char* done = "Patched ";
  // Rewritten in place from the pack (small files); packAt: where its bytes are there.
  bool inPlace = false;
  uint64_t packAt = 0;
  const TreeFile* tree = nullptr;
};

// The run: every new file is built and checked first, a large one beside its old one ("NAME.~tpnew"),
// small ones into the pack; only when all of them are, one transaction puts the new files in place and
// deletes what goes.
class Run : public OldFiles {
 public:
  Run(Source& patchFile, FileSystem& fs, Listener& listener)
      : mPatchFile(patchFile), mFs(fs), mListener(listener) {}

  // Takes the patch's files (those of old files named by hash are named by FindNamedByHash).
  void Use(const Patch& patch) {
    mPatch = &patch;
    mKeptAt.assign(patch.sources.size(), kNotKept);
    mKeptFor.assign(patch.sources.size(), 0);
    for (const TreeFile& tree : patch.files) {
      RunFile file;
      file.name = tree.name;
      file.write = tree.kind == FileKind::Write;
      file.hasOld = tree.oldSource != 0;
      file.oldSize = file.hasOld ? patch.sources[tree.oldSource - 1].size : 0;
      file.newSize = tree.newSize;
      file.newCrc = tree.newCrc;
      file.done = file.hasOld ? "Patched " : "Added ";
      file.tree = &tree;
      // A source is kept for one file at most.
      file.inPlace = (!file.write || file.newSize <= kInPlaceLimit) && file.oldSize <= kInPlaceLimit &&
                     (!file.hasOld || mKeptFor[tree.oldSource - 1] == 0);
      if (file.inPlace && file.hasOld) mKeptFor[tree.oldSource - 1] = mFiles.size() + 1;
      mFiles.push_back(file);
    }
  }

  uint32_t Go(Patch& patch) {
    if (!mFs.RootExists()) return SendError(mListener, kErrFileNotFound, "client folder");
    // A run that died half-way is finished or undone before this one looks at any file.
    const RecoveryResult recovered = RecoverInterruptedRun(mFs);
    if (recovered.what == Recovery::Failed) return SendError(mListener, kErrReplace, recovered.failure.name);
    PatchIdentity identity;
    if (!IdentityOf(mPatchFile, &identity)) return SendError(mListener, kErrPatchUnreadable, "patch file");
    if (!SendNumber(mListener, kIdFileCount, static_cast<uint32_t>(patch.files.size()))) return kErrAborted;
    if (recovered.what != Recovery::Nothing) {
      const bool finished = recovered.what == Recovery::Finished;
      if (!SendText(mListener, kIdDetail, finished ? kFinishedLine : kUndoneLine)) return kErrAborted;
      if (finished && recovered.patch == identity) return kOk;  // this very patch is in place
    }
    Use(patch);
    if (mFiles.empty()) {
      uint32_t failed = FindNamedByHash(patch);
      if (!failed) failed = CheckOldFiles();
      return failed ? failed : StageAll();
    }
    LeaveStraysInPlace();
    if (const uint32_t failed = CheckDiskSpace()) return failed;
    if (const uint32_t failed = FindNamedByHash(patch)) return failed;
    if (const uint32_t failed = BeginTransaction(identity)) return failed;
    const uint32_t staged = StageEverything();
    if (staged != kOk) {
      LetGo();
      mTransaction->Abandon();
      return staged;
    }
    return CommitAll();
  }

  // Old files the patch names by hash are found by listing the client folder (only new files' names and
  // sizes count before that), and the run's files take their names.
  uint32_t FindNamedByHash(Patch& patch) {
    if (!HasNamesByHash(patch)) return kOk;
    std::vector<std::string> clientFiles;
    if (!mFs.ListReadable(&clientFiles)) return SendError(mListener, kErrRead, "client folder");
    FormatError error;
    const auto sizeOf = [this](const std::string& name, uint64_t* size) { return mFs.SizeOf(name, size); };
    if (!ResolveNames(&patch, clientFiles, sizeOf, &error))
      return SendError(mListener, error.number, error.detail);
    for (size_t i = 0; i < mFiles.size(); ++i) mFiles[i].name = patch.files[i].name;
    return kOk;
  }

  // The old files of the copies: a kept one from the keep file, any other from the client.
  FsStatus Open(size_t source, std::unique_ptr<Source>* out) override {
    if (mKeptAt[source] == kNotKept) return mFs.OpenRead(mPatch->sources[source].name, out);
    out->reset(new (std::nothrow) SliceSource(*mKeptFile, mKeptAt[source], mPatch->sources[source].size));
    return *out ? FsStatus::Ok : FsStatus::NoMemory;
  }

 private:
  // Writes a new file from `offset` of `sink`, summing it and moving the file's progress on as it grows;
  // remembers a stop.
  class ProgressWriter : public BuildSink, public ByteSink {
   public:
    ProgressWriter(Run& run, Sink& sink, uint64_t offset, uint64_t total)
        : mRun(run), mWriter(sink, offset, total), mTotal(total) {}
    bool Put(ByteView bytes) override {
      mSum = Crc32c(bytes, mSum);
      if (!mWriter.Put(bytes)) return false;
      mSinceTick += bytes.size;
      if (mSinceTick < kProgressEvery) return true;
      mSinceTick = 0;
      mAborted = !mRun.Progress(Between(kProgressBuilt, kProgressWritten, mWriter.Count(), mTotal));
      return !mAborted;
    }
    SinkWriter& writer() { return mWriter; }
    bool aborted() const { return mAborted; }
    uint32_t Sum() const { return mSum; }

   private:
    Run& mRun;
    SinkWriter mWriter;
    uint64_t mTotal;
    uint32_t mSum = 0;
    uint64_t mSinceTick = 0;
    bool mAborted = false;
  };

  // A file new to the client whose name a file has already (one the patch does not know) is put in place
  // as a large file is, moving the stray file aside: the undo of a killed run removes whatever it finds
  // where a new file went in place. Each folder is listed once, not each name looked up.
  void LeaveStraysInPlace() {
    std::map<std::string, std::pair<std::string, std::vector<size_t>>> byFolder;  // by folded name
    for (size_t i = 0; i < mFiles.size(); ++i) {
      if (!mFiles[i].inPlace || mFiles[i].hasOld) continue;
      const size_t slash = mFiles[i].name.rfind('\\');
      const std::string folder = slash == std::string::npos ? std::string() : mFiles[i].name.substr(0, slash);
      auto& files = byFolder[FoldName(folder)];
      files.first = folder;
      files.second.push_back(i);
    }
    for (const auto& folder : byFolder) {
      std::vector<std::string> names;
      const bool listed = mFs.ListNames(folder.second.first, &names);
      std::set<std::string> there;
      for (const std::string& name : names) there.insert(FoldName(name));
      const size_t skip = folder.first.empty() ? 0 : folder.first.size() + 1;
      for (size_t i : folder.second.second)
        if (!listed || there.count(FoldName(mFiles[i].name.substr(skip)))) mFiles[i].inPlace = false;
    }
  }

  // Before anything is written: the run holds every new file beside its old one, and a copy of each old
  // file rewritten in place, until the commit. When the client's drive cannot take that, nothing is
  // touched and the error says how much is needed (a drive whose space cannot be told is not checked).
  uint32_t CheckDiskSpace() {
    uint64_t need = 0, free = 0;
    for (const RunFile& file : mFiles)
      need += (file.write ? file.newSize : 0) + (file.inPlace && file.hasOld ? file.oldSize : 0);
    if (need == 0 || !mFs.FreeSpace(&free) || need <= free) return kOk;
    constexpr uint64_t kMB = 1 << 20;
    return SendError(
        mListener, kErrDiskSpace,
        "need " + std::to_string((need + kMB - 1) / kMB) + " MB, free " + std::to_string(free / kMB) + " MB");
  }

  // Checks the old files, keeps those to be rewritten in place, then builds every new file; the
  // transaction has begun.
  uint32_t StageEverything() {
    if (const uint32_t failed = CheckOldFiles()) return failed;
    if (mTransaction->SealKept() != FsStatus::Ok) return SendError(mListener, kErrWrite, kKeepName);
    const bool kept = std::any_of(mKeptAt.begin(), mKeptAt.end(), [](uint64_t at) { return at != kNotKept; });
    if (kept) {
      const FsStatus opened = mFs.OpenRead(kKeepName, &mKeptFile);
      if (opened != FsStatus::Ok) return SendError(mListener, ErrorNumberOf(opened, kErrRead), kKeepName);
    }
    if (const uint32_t failed = StageAll()) return failed;
    if (!LetGo()) return SendError(mListener, kErrWrite, kPackName);
    StepFailure failure;
    if (mTransaction->Staged(&failure)) return kOk;
    return mTransaction->Stopped() ? kErrAborted : SendError(mListener, kErrWrite, failure.name);
  }

  // Closes the old files, the keep file and the pack before the commit writes over them or the
  // transaction removes them. False when the pack's last bytes could not be written.
  bool LetGo() {
    mTree.reset();
    mKeptFile.reset();
    const bool closed = !mPack || mPack->Close();
    mPack.reset();
    return closed;
  }

  // Before anything is written, every old file the patch needs is there with the size it expects; one
  // to be rewritten in place is kept as it is read. A failure sends id 7 with the file's name, then id 3.
  uint32_t CheckOldFiles() {
    for (size_t s = 0; s < mPatch->sources.size(); ++s) {
      // Small files send nothing while checked: a heartbeat every few keeps the caller's window alive.
      if ((s + 1) % kFilesPerHeartbeat == 0 && !mListener.Notify(kIdHeartbeat, nullptr)) return kErrAborted;
      const SourceFile& source = mPatch->sources[s];
      std::unique_ptr<Source> old;
      uint32_t error = kOk;
      const FsStatus status = mFs.OpenRead(source.name, &old);
      if (status != FsStatus::Ok)
        error = ErrorNumberOf(status, kErrRead);
      else if (old->Size() != source.size)
        error = kErrMismatch;
      else if (mKeptFor[s])
        error = KeepOld(s, *old);
      if (error == kOk) continue;
      if (error == kErrWrite) return SendError(mListener, error, kKeepName);
      if (!SendText(mListener, kIdFileStart, source.name)) return kErrAborted;
      return SendError(mListener, error, source.name);
    }
    return kOk;
  }

  // Copies an old file to be rewritten in place into the keep file: 0, kErrRead or kErrWrite.
  uint32_t KeepOld(size_t source, Source& old) {
    const FsStatus kept = mTransaction->Keep(mKeptFor[source] - 1, old, &mKeptAt[source]);
    if (kept == FsStatus::NotFound) return kErrRead;
    return kept == FsStatus::Ok ? kOk : kErrWrite;
  }

  bool Progress(uint16_t value) {
    mProgress = value;
    return SendNumber(mListener, kIdProgress, (mFileNumber << 16) | value);
  }

  uint32_t StageAll() {
    mTree.reset(new (std::nothrow) TreeBuilder(*mPatch, mPatchFile, *this));
    if (!mTree) return SendError(mListener, kErrNoMemory, "patch streams");
    std::string detail = "patch streams";
    const uint32_t opened = mTree->Open([this] { return mListener.Notify(kIdHeartbeat, nullptr); }, &detail);
    if (opened == kErrAborted) return kErrAborted;
    if (opened != kOk) return SendError(mListener, opened, detail);
    for (RunFile& file : mFiles)
      if (const uint32_t failed = Stage(file)) return failed;
    const uint32_t finished = mTree->Finish();
    return finished == kOk ? kOk : SendError(mListener, finished, "patch streams");
  }

  uint32_t Stage(RunFile& file) {
    ++mFileNumber;
    mProgress = 0;
    if (!SendText(mListener, kIdFileStart, file.name) || !Progress(0) || !Progress(kProgressBuilt))
      return kErrAborted;
    if (file.write) {
      std::string detail = file.name;
      const uint32_t built = WriteNew(file, &detail);
      if (built != kOk) {
        if (!file.inPlace) mFs.Remove(file.name + kTempSuffix);
        return built == kErrAborted ? built : SendError(mListener, built, detail);
      }
    }
    return Progress(kProgressWritten) && Progress(kProgressDone) ? kOk : kErrAborted;
  }

  // Builds the new file beside the old one, or into the pack, and checks it; a file of its own is closed
  // on return.
  uint32_t WriteNew(RunFile& file, std::string* detail) {
    std::unique_ptr<Sink> own;
    const FsStatus created = file.inPlace ? (mPack ? FsStatus::Ok : mFs.Create(kPackName, &mPack))
                                          : mFs.Create(file.name + kTempSuffix, &own);
    if (created != FsStatus::Ok) return created == FsStatus::NoMemory ? kErrNoMemory : kErrWrite;
    Sink* sink = file.inPlace ? mPack.get() : own.get();
    file.packAt = mPackEnd;
    ProgressWriter out(*this, *sink, file.inPlace ? mPackEnd : 0, file.newSize);
    if (!out.writer().Ok()) return kErrNoMemory;
    uint32_t result = mTree->Build(*file.tree, out, detail);
    if (out.aborted()) return kErrAborted;
    if (result == kOk && !out.writer().Flush()) result = kErrWrite;
    // On the disk before it takes the old file's place; the flush overlaps with building the next files.
    if (result == kOk && own) mFs.SyncLater(file.name, std::move(own));
    if (file.inPlace) mPackEnd += out.writer().Count();
    if (result == kOk && (out.writer().Count() != file.newSize || out.Sum() != file.newCrc)) {
      // The patch's own bytes are checked before the run, so a wrong result means that an old file the
      // copies came from differs from the one the patch was made from.
      *detail = file.name;
      result = kErrMismatch;
    }
    return result;
  }

  uint32_t BeginTransaction(const PatchIdentity& identity) {
    Journal journal;
    journal.patch = identity;
    for (const RunFile& file : mFiles)
      journal.entries.push_back({file.name, file.write, file.inPlace, file.hasOld});
    mTransaction.reset(new (std::nothrow) ClientTransaction(
        mFs, std::move(journal), [this] { return mListener.Notify(kIdHeartbeat, nullptr); }));
    if (!mTransaction) return SendError(mListener, kErrNoMemory, "commit journal");
    StepFailure failure;
    if (!mTransaction->Begin(&failure)) return SendError(mListener, kErrWrite, failure.name);
    return kOk;
  }

  // Puts every new file in place and deletes what goes, then reports each file. Until the transaction is
  // finished the old files wait beside the new ones: a stop or a failed step puts them back.
  uint32_t CommitAll() {
    std::vector<Placement> placements;
    std::vector<Packed> packed;
    for (const RunFile& file : mFiles) packed.push_back({file.packAt, file.newSize});
    StepFailure failure;
    if (!mTransaction->PutInPlace(packed, &placements, &failure))
      return mTransaction->Stopped() ? Stop() : Restore(failure);
    for (size_t i = 0; i < mFiles.size(); ++i) {
      const RunFile& file = mFiles[i];
      const bool later = placements[i] == Placement::AtRestart;
      if (later && !mListener.Notify(file.write ? kIdLockedReplace : kIdLockedDelete, nullptr)) return Stop();
      std::string line = file.write ? file.done + file.name : "Deleted " + file.name;
      if (later)
        line = file.name + (file.write ? " is in use: it will be replaced when the computer restarts"
                                       : " is in use: it will be deleted when the computer restarts");
      if (!SendText(mListener, kIdDetail, line)) return Stop();
    }
    if (mTransaction->Finish(&failure)) return kOk;
    // Past Done nothing goes back: the next run finishes what is left.
    return mTransaction->Committed() ? SendError(mListener, kErrReplace, failure.name) : Restore(failure);
  }

  // A stop before the transaction is finished: the old files go back.
  uint32_t Stop() {
    StepFailure ignored;
    mTransaction->RollBack(&ignored);
    return kErrAborted;
  }

  // After a failed step: the old files go back, and the details say whether they are.
  uint32_t Restore(const StepFailure& failure) {
    StepFailure undo;
    const bool restored = mTransaction->RollBack(&undo);
    SendText(mListener, kIdDetail, restored ? kRestoredLine : kNotRestoredLine);
    return SendError(mListener, kErrReplace, failure.name);
  }

  Source& mPatchFile;
  FileSystem& mFs;
  Listener& mListener;
  const Patch* mPatch = nullptr;
  std::vector<RunFile> mFiles;
  std::unique_ptr<TreeBuilder> mTree;
  std::unique_ptr<ClientTransaction> mTransaction;
  // Per source: where its bytes are in the keep file, and the number + 1 of the file it is kept for.
  static constexpr uint64_t kNotKept = ~uint64_t{0};
  std::vector<uint64_t> mKeptAt;
  std::vector<size_t> mKeptFor;
  std::unique_ptr<Source> mKeptFile;
  std::unique_ptr<Sink> mPack;
  uint64_t mPackEnd = 0;
  uint32_t mFileNumber = 0;
  uint16_t mProgress = 0;
};

}  // namespace

uint32_t SendError(Listener& listener, uint32_t number, const std::string& detail) {
  SendText(listener, kIdError, ErrorText(number, detail));
  return number;
}

uint32_t ApplyPatch(Source& patchFile, FileSystem& fs, Listener& listener) {
  FormatError error;
  Patch patch;
  if (!ParsePatch(patchFile, &patch, &error)) return SendError(listener, error.number, error.detail);
  Run run(patchFile, fs, listener);
  return run.Go(patch);
}

uint32_t ApplyPatch(ByteView bytes, FileSystem& fs, Listener& listener) {
  MemorySource source(bytes);
  return ApplyPatch(source, fs, listener);
}

}  // namespace rtp
