#include "win/EngineLibrary.h"

#include "win/DllSearch.h"

namespace {

// The plain callback reaches the listener through this pointer; only the thread that runs the engine
// uses it, and only while the engine runs.
core::EngineListener* gListener = nullptr;

void* RTPATCH_CALL EngineCallback(uint32_t id, void* param) noexcept {
  return const_cast<char*>(gListener->OnEngineMessage(id, param));
}

}  // namespace

bool CEngineLibrary::Load(const std::wstring& path) {
  Free();
  // The engine's own imports come from its folder or the system's, never from the installer's.
  if (!mLibrary.Attach(LoadLibraryFromItsFolder(path.c_str()))) return false;
  mApply = mLibrary.Entry<rtp::ApplyFn>(rtp::kApplyEntry);
  mBindError = mApply ? ERROR_SUCCESS : ::GetLastError();
  mGetCost = mLibrary.Entry<rtp::GetCostFn>(rtp::kGetCostEntry);
  return true;
}

bool CEngineLibrary::GetCost(const std::wstring& patchPath, uint32_t* biggestSz) {
  if (mGetCost == nullptr) return false;
  uint32_t newSystemSz = 0, oldSystemSz = 0, numFiles = 0;
  *biggestSz = 0;
  mGetCost(patchPath.c_str(), biggestSz, &newSystemSz, &oldSystemSz, &numFiles, 0);
  return true;
}

void CEngineLibrary::Apply(const char* commandLine, core::EngineListener& listener) {
  if (mApply == nullptr) return;
  gListener = &listener;
  mApply(commandLine, EngineCallback, 1);
  gListener = nullptr;
}

void CEngineLibrary::Free() {
  mApply = nullptr;
  mGetCost = nullptr;
  mLibrary.Free();
}
