#pragma once
// Who the installer is for: the one game client it patches, the names by which it finds the client and
// the entries of its own archive, and where it sends a player with a problem. Everything that would
// change for another client is here.
namespace rules {

// Where the client is installed unless the command line or the player says otherwise (lower case, with a
// trailing backslash).
inline constexpr wchar_t DefaultClientFolder[] = L"c:\\program files\\norrat\\zav\\";
// A folder holds the client when one of these is a file in it.
inline constexpr const wchar_t* ClientExecutables[] = {L"zav.exe", L"bin\\zav.exe"};
// The window class of the running client, which must close before its files are patched.
inline constexpr wchar_t ClientWindowClass[] = L"kreluiScreen";
// The files whose "build=" line says which build is installed, the first that has one.
inline constexpr const wchar_t* BuildFiles[] = {L"common.ini", L"boot.ini"};

// The archive entry whose name holds this is the patch file (e.g. "zav.2.12.4526-2.12.4536.rtp").
inline constexpr wchar_t PatchMark[] = L"zav";
// The entry whose name holds this is the patch notes.
inline constexpr wchar_t NotesMark[] = L"patchnotes";
// A run needs the engine library and the patch file: an archive is complete when entries hold both of
// these fragments (lower case).
inline constexpr const wchar_t* RequiredEntryNames[2] = {L"zav", L"patch"};
// The engine library's entry.
inline constexpr wchar_t EngineEntry[] = L"patchw32.dll";

// The operator's error-report page; the site decides from the query what to offer.
inline constexpr wchar_t ReportAddress[] = L"https://update.lanxingji.example/patches/patches.asp";

}  // namespace rules
