#pragma once
// The patch engine library loaded from the extracted file, its two entry points and the callback that
// brings its notifications to the install flow.
#include "core/Ports.h"
#include "framework/Handle.h"
#include "engine/EngineAbi.h"

class CEngineLibrary : public core::PatchEngine {
 public:
  bool Load(const std::wstring& path) override;
  bool HasApply() override { return mApply != nullptr; }
  uint32_t BindError() override { return mBindError; }
  bool GetCost(const std::wstring& patchPath, uint32_t* biggestSz) override;
  void Apply(const char* commandLine, core::EngineListener& listener) override;
  void Free() override;

 private:
  CLibrary mLibrary;
  rtp::ApplyFn mApply = nullptr;
  rtp::GetCostFn mGetCost = nullptr;
  uint32_t mBindError = 0;
};
