#pragma once
// The machine as the install flow meets it on Windows: one owner of every port, built by the process
// entry and handed to the dialog.
#include "core/Ports.h"
#include "win/ArchiveEntries.h"
#include "win/ClientProbes.h"
#include "win/EngineLibrary.h"
#include "win/ExtractThread.h"
#include "win/TempFolder.h"
#include "win/WinTexts.h"

struct CWinPorts {
  core::RunPorts Ports() { return core::RunPorts{texts, probes, system, archive, temp, engine, thread}; }

  CWinTexts texts;
  CWinProbes probes;
  CWinSystemActions system;
  CArchiveEntries archive;
  CTempFolder temp;
  CEngineLibrary engine;
  CExtractThread thread;  // last: destroyed first, it joins what may still use the others
};
