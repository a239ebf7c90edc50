#pragma once
// What the install flow shows and what it asks the user: the main dialog implements it, the flow's tests
// a recording fake. The flow holds no window.
#include <cstdint>
#include <string>

namespace core {

class RunView {
 public:
  // Output operations. The extraction thread calls them too; once the window is gone they do nothing.
  virtual int SetFileProgress(int percent) = 0;   // the current item's bar; returns its previous position
  virtual int SetTotalProgress(int percent) = 0;  // the whole run's bar
  virtual void SetFileStatus(const std::wstring& text) = 0;   // the status line above the item's bar
  virtual void SetPhaseStatus(const std::wstring& text) = 0;  // the status line above the run's bar
  virtual void AddDetail(const std::wstring& text) = 0;

  // Page switching: hides every page's controls and shows those of `page` with its heading and button
  // texts; on the failed page `offerId` is the one web button shown (0 for none).
  virtual void ShowPage(int page, int offerId) = 0;
  virtual void ShowNotes(const std::wstring& notes) = 0;
  // The versions line in the button band and the window caption.
  virtual void ShowVersions(const std::wstring& line, const std::wstring& caption) = 0;

  // A modal message box owned by the dialog; returns the button that closed it.
  virtual int ShowBox(const std::wstring& text, const std::wstring& caption, uint32_t style) = 0;
  // The folder dialog, starting from *folder: 1 OK, 2 cancel, -1 when it cannot be shown. *folder
  // receives the folder it returned.
  virtual int AskFolder(std::wstring* folder) = 0;

  virtual void StartTimer(uint32_t id, uint32_t periodMs) = 0;
  virtual void StopTimer(uint32_t id) = 0;
  // Called by the extraction thread: the failure ending follows on the dialog's thread.
  virtual void PostExtractionFailed() = 0;
  // While the engine holds the dialog's thread, the output operations may keep what they are told until
  // the next PumpMessages; HoldOutput(false) shows everything kept.
  virtual void HoldOutput(bool hold) = 0;
  // Serves the dialog's queued messages while the engine holds its thread (painting, Cancel, Details).
  virtual void PumpMessages() = 0;
  // Destroys the window and ends the program with the exit code.
  virtual void CloseDialog(int exitCode) = 0;

 protected:
  ~RunView() = default;
};

}  // namespace core
