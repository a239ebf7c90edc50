#pragma once
// The extraction of the engine library and the patch file into a fresh temporary folder, on a thread of
// its own. It owns the folder, the thread and the stop request; the dialog's thread takes a finished
// extraction with TakeDone (the extraction timer's tick) and a failed one from PostExtractionFailed.
#include <atomic>
#include <cstdint>
#include <string>

#include "core/Ports.h"
#include "core/RunView.h"

namespace core {

// The timer that polls for the end of extraction.
constexpr uint32_t kExtractTimerId = 100;
constexpr uint32_t kExtractTimerPeriodMs = 100;

// The extraction as the start sequence hands the run over to it.
class ExtractionStart {
 public:
  // False when the temporary folder's drive has less free space than the engine library and the patch
  // file take, in megabytes (the need rounded up): *needMB and *freeMB then say so. A drive whose space
  // cannot be told has room.
  virtual bool TempHasRoom(const std::wstring& patchEntry, uint32_t* needMB, uint32_t* freeMB) = 0;
  // Starts the thread that extracts the engine library and `patchEntry` (the archive's patch file).
  virtual void StartExtraction(const std::wstring& patchEntry) = 0;

 protected:
  ~ExtractionStart() = default;
};

class CExtraction : public ExtractionStart {
 public:
  CExtraction(RunView& view, Texts& texts, ArchiveEntries& archive, TempFiles& temp, WorkerThread& thread);
  // The thread uses this object until it has stopped.
  ~CExtraction() { StopExtraction(); }
  CExtraction(const CExtraction&) = delete;
  CExtraction& operator=(const CExtraction&) = delete;

  void StartExtraction(const std::wstring& patchEntry) override;
  bool TempHasRoom(const std::wstring& patchEntry, uint32_t* needMB, uint32_t* freeMB) override;
  // Asks the thread (if one runs) to stop and waits for it.
  void StopExtraction();
  // True once after the thread has extracted both files, like a wait on an auto-reset event.
  bool TakeDone() { return mExtractDone.exchange(false); }
  void DeleteTempFiles();

  // Full paths of the extracted files; empty when that file's extraction failed.
  const std::wstring& DllPath() const { return mDllPath; }
  const std::wstring& PatchPath() const { return mPatchPath; }

 private:
  static void ExtractThreadProc(void* extraction);
  void ExtractAll();
  std::wstring ExtractEntry(const std::wstring& name, uint64_t base, uint64_t total);
  // The folder the files go into, made at the first call; the folder tried when none could be made.
  std::wstring TempFolder();

  RunView& mView;
  Texts& mTexts;
  ArchiveEntries& mArchive;
  TempFiles& mTemp;
  WorkerThread& mThread;

  std::wstring mPatchEntry;
  std::atomic<bool> mExtractDone{false};
  std::atomic<bool> mStopExtraction{false};
  std::wstring mDllPath;
  std::wstring mPatchPath;
  std::wstring mTempDir;
  bool mTempFolderTried = false;
  std::wstring mTempDirTried;  // the folder that could not be made, named in the details
};

}  // namespace core
