#include "win/TempFolder.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cstdint>

#include "rules/Format.h"
#include "rules/Hex.h"
#include "win/ClientProbes.h"
#include "win/Elevation.h"

namespace {

constexpr int kNameAttempts = 16;

// 64 bits from the system's generator as 16 hex digits; empty when it fails (then no folder is made:
// a name anyone can predict is worse than none). The generator is advapi32's, which Windows always maps
// from its own system section (a KnownDLL): bcrypt.dll in the import table would be looked for beside
// the installer before the first line of the program runs.
std::wstring RandomName() {
  uint8_t bytes[8] = {};
  if (!::RtlGenRandom(bytes, sizeof(bytes))) return std::wstring();
  std::wstring name = L"tss";
  for (uint8_t b : bytes) rules::AppendHexByte(&name, b);
  return name;
}

// The user's own SID as text, from the process token.
std::wstring UserSid() {
  const CHandle token = ProcessToken(TOKEN_QUERY);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, &buffer[0], size, &size))
    return std::wstring();
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid, &text))
    return std::wstring();
  std::wstring sid = text;
  ::LocalFree(text);
  return sid;
}

}  // namespace

bool AdministratorsOnly(CLocalDescriptor* descriptor) {
  const std::wstring user = UserSid();
  if (user.empty()) return false;
  const std::wstring sddl =
      rules::FormatText(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;%s)", {user});
  return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                descriptor->Out(), nullptr) != FALSE;
}

bool CTempFolder::MakeFolder(std::wstring* made) {
  made->clear();
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return false;

  CLocalDescriptor descriptor;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  if (IsProcessElevated()) {
    if (!AdministratorsOnly(&descriptor)) return false;
    attributes.lpSecurityDescriptor = descriptor.Get();
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring name = RandomName();
    if (name.empty()) return false;
    *made = std::wstring(temp) + name + L"\\";  // the temporary folder ends in a backslash
    if (::CreateDirectoryW(made->c_str(), &attributes)) return true;
    // Only a name that is taken gets another draw; the folder of that name is never used.
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

uint32_t CTempFolder::FreeSpaceMB() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  return length == 0 || length > MAX_PATH ? 0 : GetFreeDiskSpaceMB(temp);
}

bool CTempFolder::Create(const std::wstring& path) {
  mFile.Attach(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return mFile.IsValid();
}

bool CTempFolder::Write(const void* bytes, uint32_t length, uint32_t* error) {
  DWORD written = 0;
  if (::WriteFile(mFile.Get(), bytes, length, &written, nullptr) && written == length) return true;
  // A write that stops short without an error is a full disk.
  *error = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_DISK_FULL;
  return false;
}

void CTempFolder::Delete(const std::wstring& path) {
  ::DeleteFileW(path.c_str());
}

void CTempFolder::RemoveFolder(const std::wstring& folder) {
  ::RemoveDirectoryW(folder.c_str());
}
