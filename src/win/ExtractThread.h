#pragma once
// The extraction thread, started through the C runtime and kept so that closing can wait for it.
#include "core/Ports.h"
#include "framework/Handle.h"

class CExtractThread : public core::WorkerThread {
 public:
  ~CExtractThread() { Join(); }
  bool Start(void (*body)(void*), void* argument) override;
  void Join() override;

 private:
  static unsigned __stdcall ThreadProc(void* self) noexcept;

  CHandle mThread;
  void (*mBody)(void*) = nullptr;
  void* mArgument = nullptr;
};
