// Extraction of the engine library and the patch file from the embedded archive into a fresh folder
// under the user's temporary folder, on a thread of its own.
#include <process.h>

#include <memory>
#include <new>

#include "app/MainDlg.h"
#include "patching/PatchName.h"

namespace {

const wchar_t kEngineEntry[] = L"patchw32.dll";
// The copy buffer's size; the odd value is the historical one and costs nothing.
constexpr uint32_t kCopyBufferSize = 8092;

// base * 100 / total in double precision, truncated; no archive bytes at all count as 0 %.
int Percent(uint64_t part, uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(static_cast<double>(part) * 100.0 / static_cast<double>(total));
}

std::wstring Lower(std::wstring text) {
  if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

// A new folder of our own under the user's temporary folder, with a trailing backslash; empty when none
// can be made. Names follow the runtime's temporary names ("s" + process id + "." + number, base 32), but
// an existing folder is never reused: another program's files must not be mixed with ours.
CString MakeTempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return CString();
  wchar_t pid[16] = {};
  _ultow(::GetCurrentProcessId(), pid, 32);
  for (unsigned long n = 1; n < 100000; ++n) {
    wchar_t sequence[16] = {};
    _ultow(n, sequence, 32);
    CString folder = CString::Formatted(L"%s\\s%s.%s\\", temp, pid, sequence);
    // The temporary folder ends in a backslash and the name starts with one.
    for (size_t at = folder.find(L"\\\\"); at != std::wstring::npos; at = folder.find(L"\\\\", at)) {
      folder.erase(at, 1);
    }
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return CString();
  }
  return CString();
}

}  // namespace

unsigned __stdcall CMainDlg::ExtractThreadProc(void* dialog) noexcept {
  static_cast<CMainDlg*>(dialog)->ExtractAll();
  return 0;
}

bool CMainDlg::StartExtraction() {
  mStopExtraction = false;
  uintptr_t thread = _beginthreadex(nullptr, 0, ExtractThreadProc, this, 0, nullptr);
  mExtractThread.Attach(reinterpret_cast<HANDLE>(thread));
  return thread != 0;
}

void CMainDlg::StopExtraction() {
  if (!mExtractThread) return;
  mStopExtraction = true;
  // The thread may be waiting for this thread to handle a message it sent to a control: keep serving
  // sent messages while waiting, or both threads would wait for ever.
  HANDLE thread = mExtractThread.Get();
  while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  mExtractThread.Close();
}

void CMainDlg::ExtractAll() {
  std::wstring patchName;
  for (uint32_t index = 0;; ++index) {
    std::wstring name = mArchive.EntryName(index);
    if (name.empty()) break;
    name = Lower(std::move(name));
    if (IsPatchEntryName(name)) {
      patchName = std::move(name);
      break;
    }
  }

  uint32_t engineSize = 0;
  uint32_t patchSize = 0;
  mArchive.OpenEntry(kEngineEntry, engineSize);
  if (!patchName.empty()) mArchive.OpenEntry(patchName, patchSize);
  uint64_t total = uint64_t{engineSize} + patchSize;

  SetTotalProgress(0);
  mDllPath = ExtractEntry(kEngineEntry, 0, total);
  mPatchPath = ExtractEntry(patchName, engineSize, total);

  if (mStopExtraction) return;  // the dialog is closing: nobody is left to tell
  if (mDllPath.empty() || mPatchPath.empty()) {
    // The failure page belongs to the dialog's thread; its message box and page follow there.
    ::PostMessageW(m_hWnd, WM_EXTRACT_FAILED, 0, 0);
    return;
  }
  ::SetEvent(mExtractDone.Get());
}

CString CMainDlg::ExtractEntry(const std::wstring& name, uint64_t base, uint64_t total) {
  AddDetail(CString::Formatted(L"Extracting \"%s\"...", name.c_str()));
  SetPhaseStatusId(IDS_EXTRACTING_PHASE);
  SetFileStatus(CString::Formatted(CString::Load(IDS_EXTRACTING_FILE).c_str(), name.c_str()));
  SetTotalProgress(Percent(base, total));
  SetFileProgress(0);

  if (mTempDir.empty()) mTempDir = MakeTempFolder();
  // Without a folder of our own, or without a name, there is nothing to create.
  CString path = mTempDir.empty() || name.empty() ? CString() : CString(mTempDir + name);

  uint32_t fileSize = 0;
  HANDLE source = mArchive.OpenEntry(name, fileSize);
  CHandle target(path.empty() ? INVALID_HANDLE_VALUE
                              : ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) {
    AddDetail(CString::Formatted(L"Error extracting \"%s\"! Unable to create file.", path.c_str()));
    return CString();
  }

  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBufferSize]);
  DWORD error = buffer ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
  uint32_t remaining = fileSize;
  uint32_t done = 0;
  while (error == ERROR_SUCCESS && remaining > 0) {
    if (mStopExtraction) {
      error = ERROR_CANCELLED;
      break;
    }
    DWORD chunk = remaining < kCopyBufferSize ? remaining : kCopyBufferSize;
    DWORD read = 0;
    if (!::ReadFile(source, buffer.get(), chunk, &read, nullptr)) {
      error = ::GetLastError();
      break;
    }
    // A short read is an archive that ends early: the file would be wrong, so it counts as a failure.
    if (read != chunk) {
      error = ERROR_HANDLE_EOF;
      break;
    }
    DWORD written = 0;
    if (!::WriteFile(target.Get(), buffer.get(), chunk, &written, nullptr) || written != chunk) {
      error = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_DISK_FULL;
      break;
    }
    done += written;
    remaining -= written;
    SetFileProgress(Percent(done, fileSize));
    SetTotalProgress(Percent(base + done, total));
  }
  target.Close();

  if (error != ERROR_SUCCESS) {
    AddDetail(
        CString::Formatted(L"Error extracting \"%s\"! Error %d", path.c_str(), static_cast<int>(error)));
    // A partial file is of no use to anyone, and no path records it for deletion later.
    ::DeleteFileW(path.c_str());
    return CString();
  }
  AddDetail(CString::Formatted(L"File \"%s\" extracted.", path.c_str()));
  return path;
}

LRESULT CMainDlg::OnExtractFailed() {
  ShowMessage(IDS_EXTRACT_FAILED, 0);
  mOutcome = OutcomeRestart;
  mMessage.LoadString(IDS_EXTRACT_FAILED);
  SetPage(PageFailed);
  return 0;
}

void CMainDlg::DeleteTempFiles() {
  if (!mDllPath.empty()) ::DeleteFileW(mDllPath.c_str());
  if (!mPatchPath.empty()) ::DeleteFileW(mPatchPath.c_str());
  if (!mTempDir.empty()) ::RemoveDirectoryW(mTempDir.c_str());
}
