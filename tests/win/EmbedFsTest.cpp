#include "win/EmbedFs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../archive/ArchiveFixture.h"
#include "archive/EmbedFsWriter.h"

namespace {

using fixture::Archive;
using fixture::Item;
using fixture::Noise;
using fixture::U32;

std::string Utf8(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

uint32_t Granularity() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwAllocationGranularity;
}

// A fresh folder under the user's temporary folder, removed with its files.
class TempDir {
 public:
  TempDir() {
    static int serial = 0;
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH, temp);
    // Wine reuses process ids: a folder a killed run left is never reused.
    do {
      mPath = std::wstring(temp) + L"embedfs-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(++serial) + L"\\";
    } while (!::CreateDirectoryW(mPath.c_str(), nullptr));
  }
  ~TempDir() {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((mPath + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        ::DeleteFileW((mPath + found.cFileName).c_str());
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    ::RemoveDirectoryW(mPath.c_str());
  }
  std::wstring operator/(const std::wstring& name) const { return mPath + name; }

 private:
  std::wstring mPath;
};

bool WriteFile(const std::wstring& path, const std::string& bytes) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

std::string ReadFile(const std::wstring& path) {
  std::string bytes;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return bytes;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

class EmbedFs : public ::testing::Test {
 protected:
  std::wstring Write(const std::string& bytes, const std::wstring& name = L"archive.exe") {
    const std::wstring path = mDir / name;
    EXPECT_TRUE(WriteFile(path, bytes));
    return path;
  }
  TempDir mDir;
};

const std::vector<Item>& Shipped() {
  static const std::vector<Item> items = {{"patchw32.dll", Noise(207872, 1)},
                                          {"patchnotes4536.rtf", "{\\rtf1\\ansi notes}"},
                                          {"ZAV.2.12.4526-2.12.4536.rtp", Noise(300001, 2)}};
  return items;
}

TEST_F(EmbedFs, ListsTheShippedInstallersNamesInOrderThenAnEmptyName) {
  // The shipped layout, packed by the packer: host padded to 0x110000 and the three entries.
  const std::vector<Item> items = {{"patchw32.dll", Noise(207872, 1)},
                                   {"patchnotes4536.rtf", Noise(1169, 2)},
                                   {"ZAV.2.12.4526-2.12.4536.rtp", Noise(9824865, 3)}};
  ASSERT_TRUE(WriteFile(mDir / L"host.exe", Noise(0x102000, 4)));
  std::vector<embedfs::PackInput> inputs;
  for (size_t i = 0; i < items.size(); ++i) {
    const std::wstring path = mDir / (L"input" + std::to_wstring(i));
    ASSERT_TRUE(WriteFile(path, items[i].data));
    inputs.push_back({items[i].name, Utf8(path)});
  }
  embedfs::PackOptions options;
  options.padHostTo = 0x110000;
  std::string error;
  ASSERT_TRUE(embedfs::Pack(Utf8(mDir / L"host.exe"), inputs, options, Utf8(mDir / L"installer.exe"), &error))
      << error;

  CEmbedFs archive(mDir / L"installer.exe");
  EXPECT_EQ(archive.EntryName(0), L"patchw32.dll");
  EXPECT_EQ(archive.EntryName(1), L"patchnotes4536.rtf");
  EXPECT_EQ(archive.EntryName(2), L"ZAV.2.12.4526-2.12.4536.rtp");
  EXPECT_EQ(archive.EntryName(3), L"");
  EXPECT_EQ(archive.EntryName(0xFFFFFFFFu), L"");
  const uint32_t offsets[] = {0x110058, 0x142C58, 0x1430E9};
  for (size_t i = 0; i < items.size(); ++i) {
    uint32_t size = 0;
    HANDLE file = archive.OpenEntry(archive.EntryName(static_cast<uint32_t>(i)), size);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(size, items[i].data.size());
    LARGE_INTEGER zero = {}, position = {};
    ASSERT_TRUE(::SetFilePointerEx(file, zero, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, offsets[i]) << items[i].name;
  }
  uint32_t size = 0;
  const uint8_t* notes = archive.MapEntry(L"patchnotes4536.rtf", size);
  ASSERT_NE(notes, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(notes), size), items[1].data);
  archive.UnmapEntry(notes);
}

TEST_F(EmbedFs, FindsAnEntryWhateverTheCaseOfTheName) {
  const std::string file = Archive(Noise(0x11000, 4), Shipped());
  CEmbedFs archive(Write(file));
  uint32_t size = 0;
  const uint8_t* bytes = archive.MapEntry(L"PATCHW32.DLL", size);
  ASSERT_NE(bytes, nullptr);
  ASSERT_EQ(size, 207872u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), Shipped()[0].data);
  archive.UnmapEntry(bytes);

  HANDLE handle = archive.OpenEntry(L"zav.2.12.4526-2.12.4536.RTP", size);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(size, 300001u);
}

TEST_F(EmbedFs, OfTwoNamesEqualIgnoringCaseTheFirstIsFound) {
  CEmbedFs archive(Write(Archive(Noise(0x11000, 5), {{"Notes.rtf", "first"}, {"NOTES.RTF", "second!"}})));
  uint32_t size = 0;
  const uint8_t* bytes = archive.MapEntry(L"NOTES.RTF", size);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), "first");
  archive.UnmapEntry(bytes);

  HANDLE handle = archive.OpenEntry(L"notes.rtf", size);
  ASSERT_NE(handle, nullptr);
  char read[16] = {};
  DWORD got = 0;
  ASSERT_TRUE(::ReadFile(handle, read, size, &got, nullptr));
  EXPECT_EQ(std::string(read, got), "first");
}

TEST_F(EmbedFs, UnalignedViewIsReleasedWholeByUnmapEntry) {
  const uint32_t granularity = Granularity();
  ASSERT_GT(granularity, 0u);
  const std::vector<Item> items = {{"lead", Noise(1000, 6)}, {"big", Noise(3 * granularity + 123, 7)}};
  const std::string file = Archive(Noise(granularity, 8), items);
  CEmbedFs archive(Write(file));
  uint32_t size = 0;
  const uint8_t* bytes = archive.MapEntry(L"big", size);
  ASSERT_NE(bytes, nullptr);
  ASSERT_EQ(size, items[1].data.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), items[1].data);

  const uintptr_t address = reinterpret_cast<uintptr_t>(bytes);
  const uint32_t fileOffset = granularity + 4 + (9 + 4) + (9 + 3) + 1000;
  EXPECT_EQ(address % granularity, fileOffset % granularity);
  EXPECT_NE(address % granularity, 0u);
  const uint8_t* base = bytes - address % granularity;
  MEMORY_BASIC_INFORMATION region;
  ASSERT_NE(::VirtualQuery(base, &region, sizeof region), 0u);
  EXPECT_EQ(region.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(region.Type, static_cast<DWORD>(MEM_MAPPED));
  EXPECT_EQ(region.AllocationBase, base);

  archive.UnmapEntry(bytes);
  for (const uint8_t* inside : {base, base + granularity, bytes + size - 1}) {
    ASSERT_NE(::VirtualQuery(inside, &region, sizeof region), 0u);
    EXPECT_EQ(region.State, static_cast<DWORD>(MEM_FREE)) << "still mapped at +" << (inside - base);
  }
}

TEST_F(EmbedFs, EntryOfSizeZeroGivesAViewAndAHandleOfSizeZero) {
  const uint32_t granularity = Granularity();
  // The first empty entry starts exactly on a granularity boundary, the second one byte later.
  const std::string host = Noise(2 * granularity - 4 - (9 + 6) - (9 + 1) - (9 + 6), 9);
  const std::string file = Archive(host, {{"empty1", ""}, {"x", "1"}, {"empty2", ""}});
  CEmbedFs archive(Write(file));
  for (const wchar_t* name : {L"empty1", L"empty2"}) {
    uint32_t size = 77;
    const uint8_t* bytes = archive.MapEntry(name, size);
    ASSERT_NE(bytes, nullptr) << Utf8(name);
    EXPECT_EQ(size, 0u);
    archive.UnmapEntry(bytes);
    MEMORY_BASIC_INFORMATION region;
    ASSERT_NE(::VirtualQuery(bytes, &region, sizeof region), 0u);
    EXPECT_EQ(region.State, static_cast<DWORD>(MEM_FREE));

    size = 77;
    EXPECT_NE(archive.OpenEntry(name, size), nullptr);
    EXPECT_EQ(size, 0u);
  }
  uint32_t offset = 0, size = 0;
  embedfs::Directory directory;
  fixture::MemorySource source(file);
  ASSERT_EQ(directory.Read(source), embedfs::ReadResult::kOk);
  ASSERT_TRUE(embedfs::FindEntry(
      directory.Entries(), directory.Count(), directory.GetLayout().dataStart,
      [](const embedfs::Entry& entry) { return std::string(entry.name) == "empty1"; }, &offset, &size));
  EXPECT_EQ(offset % granularity, 0u);
}

TEST_F(EmbedFs, OpenEntryMovesTheReadersOwnHandleToTheEntry) {
  const std::string file = Archive(Noise(0x11000, 10), Shipped());
  CEmbedFs archive(Write(file));
  uint32_t size = 0;
  HANDLE notes = archive.OpenEntry(L"patchnotes4536.rtf", size);
  ASSERT_NE(notes, nullptr);
  const std::string expected = Shipped()[1].data;
  ASSERT_EQ(size, expected.size());
  LARGE_INTEGER zero = {}, position = {};
  ASSERT_TRUE(::SetFilePointerEx(notes, zero, &position, FILE_CURRENT));
  EXPECT_EQ(static_cast<size_t>(position.QuadPart), file.find(expected));
  std::string read(size, '\0');
  DWORD got = 0;
  ASSERT_TRUE(::ReadFile(notes, &read[0], size, &got, nullptr));
  EXPECT_EQ(read, expected);

  // The same handle, moved again by the next call.
  HANDLE engine = archive.OpenEntry(L"patchw32.dll", size);
  EXPECT_EQ(engine, notes);
  ASSERT_TRUE(::SetFilePointerEx(engine, zero, &position, FILE_CURRENT));
  EXPECT_EQ(static_cast<uint32_t>(position.QuadPart), 0x11000u + 4 + 21 + 27 + 36);
}

TEST_F(EmbedFs, FileWithoutArchiveFailsEveryCallAndEachCallTriesAgain) {
  const std::wstring path = Write(Noise(20000, 11));
  CEmbedFs archive(path);
  EXPECT_FALSE(archive.Open());
  EXPECT_EQ(archive.EntryName(0), L"");
  uint32_t size = 12345;
  EXPECT_EQ(archive.MapEntry(L"patchw32.dll", size), nullptr);
  EXPECT_EQ(archive.OpenEntry(L"patchw32.dll", size), nullptr);
  EXPECT_EQ(size, 12345u);
  archive.UnmapEntry(nullptr);

  // The failed opens held nothing, so the file can be rewritten; the next call opens it.
  ASSERT_TRUE(WriteFile(path, Archive(Noise(20000, 11), {{"late.txt", "arrived"}})));
  EXPECT_EQ(archive.EntryName(0), L"late.txt");
  const uint8_t* bytes = archive.MapEntry(L"late.txt", size);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), "arrived");
  archive.UnmapEntry(bytes);
}

TEST_F(EmbedFs, MissingFileFailsEveryCall) {
  CEmbedFs archive(mDir / L"nothing-here.exe");
  EXPECT_FALSE(archive.Open());
  EXPECT_EQ(archive.EntryName(0), L"");
  uint32_t size = 5;
  EXPECT_EQ(archive.OpenEntry(L"a", size), nullptr);
  EXPECT_EQ(size, 5u);
}

TEST_F(EmbedFs, FileShorterThan8192BytesHasNoArchive) {
  const std::string file = Archive(std::string(8192 - 4 - 10 - 1 - 16 - 1, 'h'), {{"a", "1"}});
  ASSERT_EQ(file.size(), 8191u);
  CEmbedFs archive(Write(file));
  EXPECT_EQ(archive.EntryName(0), L"");
}

TEST_F(EmbedFs, BytesAfterTheTrailerAreToleratedUpTo8180) {
  CEmbedFs archive(Write(Archive(Noise(0x11000, 12), Shipped()) + Noise(8180, 13)));
  EXPECT_EQ(archive.EntryName(2), L"ZAV.2.12.4526-2.12.4536.rtp");
  uint32_t size = 0;
  const uint8_t* bytes = archive.MapEntry(L"patchnotes4536.rtf", size);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), Shipped()[1].data);
  archive.UnmapEntry(bytes);
}

TEST_F(EmbedFs, NameLengthOf260FailsTheOpen) {
  const std::string file = Noise(0x3000, 14) + U32(1) + U32(1) + U32(260) + std::string(261, 'n') + "x" +
                           U32(0x3000) + fixture::Magic();
  CEmbedFs archive(Write(file));
  EXPECT_FALSE(archive.Open());
  EXPECT_EQ(archive.EntryName(0), L"");
}

TEST_F(EmbedFs, NamesAreWidenedWithTheAnsiCodePage) {
  if (::GetACP() != 936) GTEST_SKIP() << "needs the Chinese ANSI code page 936";
  // "补丁.txt" in code page 936.
  const std::string name = "\xB2\xB9\xB6\xA1.txt";
  CEmbedFs archive(Write(Archive(Noise(0x3000, 15), {{name, "gbk"}})));
  EXPECT_EQ(archive.EntryName(0), L"\u8865\u4E01.txt");
  uint32_t size = 0;
  EXPECT_NE(archive.OpenEntry(L"\u8865\u4E01.TXT", size), nullptr);
  EXPECT_EQ(size, 3u);
}

TEST_F(EmbedFs, DestroyingTheReaderReleasesTheFile) {
  const std::wstring path = Write(Archive(Noise(0x11000, 16), Shipped()));
  {
    CEmbedFs archive(path);
    uint32_t size = 0;
    archive.UnmapEntry(archive.MapEntry(L"patchw32.dll", size));
    ASSERT_NE(archive.OpenEntry(L"patchw32.dll", size), nullptr);
    // While open, the reader lets others read but not write.
    HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
  }
  HANDLE exclusive =
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  if (exclusive != INVALID_HANDLE_VALUE) ::CloseHandle(exclusive);
}

// The running program reads the archive packed onto its own executable.
std::wstring BesideThisTest(const std::wstring& name) {
  wchar_t self[MAX_PATH + 1] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

DWORD RunAndWait(const std::wstring& program, const std::wstring& argument) {
  std::wstring command = L"\"" + program + L"\" \"" + argument + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return 0xFFFFFFFFu;
  }
  DWORD code = 0xFFFFFFFEu;
  if (::WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

uint32_t Fnv1a(const std::string& bytes) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
  return hash;
}

TEST_F(EmbedFs, AProgramListsTheArchivePackedOntoItsOwnExecutable) {
  const std::wstring program = BesideThisTest(L"embedfs_selflist.exe");
  ASSERT_EQ(::GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES, false) << Utf8(program);

  // Unpacked, it finds no archive.
  EXPECT_EQ(RunAndWait(program, mDir / L"plain.txt"), 0u);
  EXPECT_EQ(ReadFile(mDir / L"plain.txt"), "");

  const std::vector<Item> items = {{"patchw32.dll", Noise(207872, 17)},
                                   {"patchnotes4536.rtf", "{\\rtf1\\ansi\\ansicpg936 notes}"},
                                   {"ZAV.2.12.4526-2.12.4536.rtp", Noise(1000000, 18)}};
  std::vector<embedfs::PackInput> inputs;
  for (size_t i = 0; i < items.size(); ++i) {
    const std::wstring path = mDir / (L"input" + std::to_wstring(i));
    ASSERT_TRUE(WriteFile(path, items[i].data));
    inputs.push_back({items[i].name, Utf8(path)});
  }
  const std::wstring packed = mDir / L"selflist-packed.exe";
  embedfs::PackOptions options;
  options.padHostTo = 0x180000;
  std::string error;
  ASSERT_TRUE(embedfs::Pack(Utf8(program), inputs, options, Utf8(packed), &error)) << error;

  EXPECT_EQ(RunAndWait(packed, mDir / L"listing.txt"), 3u);
  std::string expected;
  for (size_t i = 0; i < items.size(); ++i) {
    char line[400];
    const unsigned hash = Fnv1a(items[i].data);
    std::snprintf(line, sizeof line, "%u\t%s\t%u\t%08x\t%08x\n", static_cast<unsigned>(i),
                  items[i].name.c_str(), static_cast<unsigned>(items[i].data.size()), hash, hash);
    expected += line;
  }
  EXPECT_EQ(ReadFile(mDir / L"listing.txt"), expected);
}

}  // namespace
