// Extraction of the engine library and the patch file from the embedded archive into a fresh folder
// under the user's temporary folder, on a thread of its own.
#include <memory>
#include <new>

#include "core/Extraction.h"

#include "rules/FileNames.h"
#include "rules/Format.h"
#include "rules/Product.h"
#include "rules/resource.h"

namespace core {

using namespace rules;

namespace {

// The copy buffer: 8092 bytes (0x1F9C, not 8192); memory use does not grow with the entry.
constexpr uint32_t kCopyBufferSize = 8092;
// The system's codes for what the copy itself runs into.
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorCancelled = 1223;
constexpr uint32_t kErrorGenFailure = 31;

// part * 100 / total in double precision, truncated; no archive bytes at all count as 0 %.
int Percent(uint64_t part, uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(static_cast<double>(part) * 100.0 / static_cast<double>(total));
}

}  // namespace

CExtraction::CExtraction(RunView& view, Texts& texts, ArchiveEntries& archive, TempFiles& temp,
                         WorkerThread& thread)
    : mView(view), mTexts(texts), mArchive(archive), mTemp(temp), mThread(thread) {}

void CExtraction::ExtractThreadProc(void* extraction) {
  static_cast<CExtraction*>(extraction)->ExtractAll();
}

void CExtraction::StartExtraction(const std::wstring& patchEntry) {
  mPatchEntry = patchEntry;
  mExtractDone = false;
  mStopExtraction = false;
  mThread.Start(ExtractThreadProc, this);
}

bool CExtraction::TempHasRoom(const std::wstring& patchEntry, uint32_t* needMB, uint32_t* freeMB) {
  uint32_t engineSize = 0, patchSize = 0;
  mArchive.OpenEntry(EngineEntry, &engineSize);
  if (!patchEntry.empty()) mArchive.OpenEntry(patchEntry, &patchSize);
  constexpr uint64_t kMB = 1u << 20;
  *needMB = static_cast<uint32_t>((uint64_t{engineSize} + patchSize + kMB - 1) / kMB);
  *freeMB = mTemp.FreeSpaceMB();
  return *freeMB == 0 || *needMB <= *freeMB;
}

void CExtraction::StopExtraction() {
  mStopExtraction = true;
  mThread.Join();
}

void CExtraction::ExtractAll() {
  const std::wstring& patchName = mPatchEntry;
  uint32_t engineSize = 0;
  uint32_t patchSize = 0;
  mArchive.OpenEntry(EngineEntry, &engineSize);
  if (!patchName.empty()) mArchive.OpenEntry(patchName, &patchSize);
  const uint64_t total = uint64_t{engineSize} + patchSize;

  mView.SetTotalProgress(0);
  mDllPath = ExtractEntry(EngineEntry, 0, total);
  mPatchPath = ExtractEntry(patchName, engineSize, total);

  if (mStopExtraction) return;  // the dialog is closing: nobody is left to tell
  if (mDllPath.empty() || mPatchPath.empty()) {
    // The failure ending belongs to the dialog's thread.
    mView.PostExtractionFailed();
    return;
  }
  mExtractDone = true;
}

std::wstring CExtraction::ExtractEntry(const std::wstring& name, uint64_t base, uint64_t total) {
  mView.AddDetail(FormatText(L"Extracting \"%s\"...", {name}));
  mView.SetPhaseStatus(mTexts.Load(IDS_EXTRACTING_PHASE));
  mView.SetFileStatus(FormatText(mTexts.Load(IDS_EXTRACTING_FILE), {name}));
  mView.SetTotalProgress(Percent(base, total));
  mView.SetFileProgress(0);

  const std::wstring path = TempFolder() + name;

  uint32_t fileSize = 0;
  mArchive.OpenEntry(name, &fileSize);
  // A name from the archive that is not one plain file name would be written somewhere else.
  if (mTempDir.empty() || !IsPlainFileName(name) || !mTemp.Create(path)) {
    mView.AddDetail(FormatText(L"Error extracting \"%s\"! Unable to create file.", {path}));
    return std::wstring();
  }

  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBufferSize]);
  uint32_t error = buffer ? 0 : kErrorNotEnoughMemory;
  uint32_t remaining = fileSize;
  uint32_t done = 0;
  while (error == 0 && remaining > 0) {
    if (mStopExtraction) {
      error = kErrorCancelled;
      break;
    }
    const uint32_t chunk = remaining < kCopyBufferSize ? remaining : kCopyBufferSize;
    // A short read is an archive that ends early: the file would be wrong, so it counts as a failure.
    if (!mArchive.Read(buffer.get(), chunk, &error) || !mTemp.Write(buffer.get(), chunk, &error)) {
      if (error == 0) error = kErrorGenFailure;  // a failure never passes for a copied file
      break;
    }
    done += chunk;
    remaining -= chunk;
    mView.SetFileProgress(Percent(done, fileSize));
    mView.SetTotalProgress(Percent(base + done, total));
  }
  mTemp.Close();

  if (error != 0) {
    mView.AddDetail(FormatText(L"Error extracting \"%s\"! Error %d", {path, static_cast<int32_t>(error)}));
    // A partial file is of no use to anyone, and no path records it for deletion later.
    mTemp.Delete(path);
    return std::wstring();
  }
  mView.AddDetail(FormatText(L"File \"%s\" extracted.", {path}));
  return path;
}

// The folder is made once: a folder that could not be made is not tried again for the next entry.
// Without a name the path is the folder itself, which cannot be created as a file.
std::wstring CExtraction::TempFolder() {
  if (!mTempFolderTried) {
    mTempFolderTried = true;
    std::wstring folder;
    if (mTemp.MakeFolder(&folder)) {
      mTempDir = folder;
    } else {
      mTempDirTried = folder;
    }
  }
  return mTempDir.empty() ? mTempDirTried : mTempDir;
}

void CExtraction::DeleteTempFiles() {
  if (!mDllPath.empty()) mTemp.Delete(mDllPath);
  if (!mPatchPath.empty()) mTemp.Delete(mPatchPath);
  if (!mTempDir.empty()) mTemp.RemoveFolder(mTempDir);
}

}  // namespace core
