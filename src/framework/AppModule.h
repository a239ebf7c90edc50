#pragma once
// The application module and the message loop: a loop offers each message to its message filters
// (a modeless dialog's keyboard navigation lives there) and calls its idle handlers when the queue is empty.
#include <windows.h>

#include <vector>

class CMessageFilter {
 public:
  virtual BOOL PreTranslateMessage(MSG* msg) = 0;

 protected:
  ~CMessageFilter() = default;
};

class CIdleHandler {
 public:
  virtual BOOL OnIdle() = 0;

 protected:
  ~CIdleHandler() = default;
};

class CMessageLoop {
 public:
  void AddMessageFilter(CMessageFilter* filter);
  void RemoveMessageFilter(CMessageFilter* filter);
  void AddIdleHandler(CIdleHandler* handler);
  void RemoveIdleHandler(CIdleHandler* handler);

  // Runs until WM_QUIT and returns its parameter.
  int Run();

 private:
  BOOL PreTranslateMessage(MSG* msg);
  BOOL OnIdle();

  std::vector<CMessageFilter*> mFilters;
  std::vector<CIdleHandler*> mIdleHandlers;
};

class CAppModule {
 public:
  HRESULT Init(HINSTANCE instance);
  void Term();

  HINSTANCE GetModuleInstance() const { return mInstance; }
  HINSTANCE GetResourceInstance() const { return mInstance; }

  // One loop per thread; the dialog finds its thread's loop at initialisation.
  bool AddMessageLoop(CMessageLoop* loop);
  bool RemoveMessageLoop();
  CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId()) const;

 private:
  struct ThreadLoop {
    DWORD threadId;
    CMessageLoop* loop;
  };
  HINSTANCE mInstance = nullptr;
  std::vector<ThreadLoop> mLoops;
};

extern CAppModule theModule;

// Registers the control-hosting window classes "AtlAxWin80" and "AtlAxWinLic80". This program hosts
// no ActiveX controls, so they are plain windows; the classes exist for templates that name them.
bool AtlAxWinInit();
