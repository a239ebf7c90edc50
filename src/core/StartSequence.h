#pragma once
// The start sequence: what happens when the user presses start. It checks the archive, finds and confirms
// the client folder, compares the installed build with the patch's builds, and either ends the run (through
// RunEnd) or starts the extraction that leads to the patch run. It also reads from the archive what the
// welcome page shows: the patch's versions and its notes.
#include <cstdint>
#include <string>

#include "core/Ending.h"
#include "core/Extraction.h"
#include "core/Ports.h"
#include "core/RunView.h"
#include "rules/Version.h"

namespace core {

class CStartSequence {
 public:
  // Where a step leaves the sequence: it goes on, it has ended the run, or the user asked to try again
  // (the page then runs the whole sequence over).
  enum class Step { GoOn, Ended, Again };

  CStartSequence(RunView& view, Texts& texts, ClientProbes& probes, SystemActions& system,
                 ArchiveEntries& archive, ExtractionStart& extraction, RunEnd& end);
  CStartSequence(const CStartSequence&) = delete;
  CStartSequence& operator=(const CStartSequence&) = delete;

  // The installer's command line, which may name the client folder.
  void SetCommandLine(std::wstring commandLine) { mCmdLine = std::move(commandLine); }

  // True when the archive holds every entry a run needs; notes the test patch and the notes entry.
  bool CheckArchive();
  // The versions from the patch entry's name; false (and zero versions) when there is none to read.
  bool ParsePatchVersions();
  // The notes entry, when the archive has one, in the welcome page's notes view.
  void ShowPatchNotes();
  // Returns GoOn once the extraction runs.
  Step StartUpdate();

  bool IsTestPatch() const { return mTestPatch; }
  const std::wstring& ClientFolder() const { return mZavPath; }
  uint32_t InstalledBuild() const { return mInstalledBuild; }
  const rules::Version& FromVersion() const { return mFromVersion; }
  const rules::Version& ToVersion() const { return mToVersion; }

 private:
  enum class FolderLoop { Accepted, Cancelled, NotShown };

  std::wstring Load(uint32_t id) { return mTexts.Load(id); }
  // A string-table text in a message box (see BoxOf).
  int ShowMessage(uint32_t stringId, uint32_t style);
  std::wstring FindPatchEntry();
  uint32_t ReadInstalledBuild(const wchar_t* fileName);
  FolderLoop AskForFolder(std::wstring* folder);
  Step ConfirmTestPatch(std::wstring* candidate);
  Step CloseClient();
  Step ChooseClientFolder(std::wstring candidate);
  Step CompareBuilds();
  Step CheckTempSpace();

  RunView& mView;
  Texts& mTexts;
  ClientProbes& mProbes;
  SystemActions& mSystem;
  ArchiveEntries& mArchive;
  ExtractionStart& mExtraction;
  RunEnd& mEnd;

  std::wstring mCmdLine;
  bool mTestPatch = false;
  std::wstring mNotesName;
  std::wstring mZavPath;
  uint32_t mInstalledBuild = 0;
  rules::Version mFromVersion;
  rules::Version mToVersion;
};

}  // namespace core
