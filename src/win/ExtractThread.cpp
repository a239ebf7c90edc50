#include "win/ExtractThread.h"

#include <process.h>

unsigned __stdcall CExtractThread::ThreadProc(void* self) noexcept {
  const CExtractThread* thread = static_cast<const CExtractThread*>(self);
  thread->mBody(thread->mArgument);
  return 0;
}

bool CExtractThread::Start(void (*body)(void*), void* argument) {
  Join();
  mBody = body;
  mArgument = argument;
  const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadProc, this, 0, nullptr);
  mThread.Attach(reinterpret_cast<HANDLE>(thread));
  return thread != 0;
}

void CExtractThread::Join() {
  if (!mThread) return;
  // The thread may be waiting for this thread to handle a message it sent to a control: keep serving
  // sent messages while waiting, or both threads would wait for ever.
  HANDLE thread = mThread.Get();
  while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  mThread.Close();
}
