// Process entry: prepares COM, the common controls and the framework, runs the main dialog until it
// posts the quit message, and tears everything down in reverse order.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "dialog/MainDlg.h"
#include "framework/Handle.h"
#include "win/DllSearch.h"
#include "win/WinPorts.h"

namespace {

// The diagnostic of a failed COM or module initialisation, with the failure's code; start-up goes on.
void TraceFailure(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  wchar_t line[64];
  ::wsprintfW(line, L"((HRESULT)(hRes) >= 0) failed: 0x%08lX\n", static_cast<unsigned long>(hr));
  ::OutputDebugStringW(line);
}

int Run(const wchar_t* cmdLine, int showCommand) {
  // The notes view; without it the frame stays empty.
  CLibrary richEdit(LoadSystemLibrary(L"RICHED32.DLL"));

  CMessageLoop theLoop;
  theModule.AddMessageLoop(&theLoop);

  int result = 0;
  {
    CWinPorts machine;  // outlives the dialog, which stops its extraction thread first
    CMainDlg dlgMain(machine.Ports());
    if (dlgMain.Create(nullptr, 0) == nullptr) {
      ::OutputDebugStringW(L"Main dialog creation failed!\n");
      theModule.RemoveMessageLoop();
      richEdit.Free();
      return 0;
    }
    dlgMain.SetCommandLine(cmdLine ? cmdLine : L"");
    dlgMain.ShowWindow(showCommand);
    result = theLoop.Run();
    theModule.RemoveMessageLoop();
    richEdit.Free();
  }
  return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR cmdLine, int showCommand) {
  RestrictDllSearch();
  TraceFailure(::CoInitialize(nullptr));

  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);

  TraceFailure(theModule.Init(instance));
  AtlAxWinInit();

  int result = Run(cmdLine, showCommand);

  theModule.Term();
  ::CoUninitialize();
  return result;
}
