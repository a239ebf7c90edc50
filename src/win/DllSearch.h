#pragma once
// Where the installer looks for libraries. It runs from download folders, often with administrator
// rights: a library planted beside it must never be loaded in its place.
#include <windows.h>

// Restricts the default library search to the system folder (without the application's folder and the
// current one). Called first thing at start-up. The libraries that system libraries load on demand are
// loaded from the system folder at once where the restriction may not reach them: those drawing needs
// (Wine), or all of them on systems without the search flags.
void RestrictDllSearch();

// A system library by name, from the system folder only; null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// A library from a full path; the libraries it imports come from its own folder or the system folder.
HMODULE LoadLibraryFromItsFolder(const wchar_t* path);
