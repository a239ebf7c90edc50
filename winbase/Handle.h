#pragma once
// Owners of kernel handles, memory the system allocated and library modules, for every Windows part of
// the program (the engine, the archive, the window framework): each releases what it holds exactly once.
#include <windows.h>

class CHandle {
 public:
  CHandle() = default;
  explicit CHandle(HANDLE handle) : mHandle(handle) {}
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  CHandle(CHandle&& other) noexcept : mHandle(other.Detach()) {}
  CHandle& operator=(CHandle&& other) noexcept {
    if (this != &other) Attach(other.Detach());
    return *this;
  }
  ~CHandle() { Close(); }

  // File handles fail as INVALID_HANDLE_VALUE, other kernel objects as null: both count as none.
  bool IsValid() const { return mHandle != nullptr && mHandle != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return IsValid(); }
  HANDLE Get() const { return mHandle; }
  void Attach(HANDLE handle) {
    Close();
    mHandle = handle;
  }
  HANDLE Detach() {
    HANDLE handle = mHandle;
    mHandle = nullptr;
    return handle;
  }
  // False when closing failed (for a file written to, data may not have reached the disk).
  bool Close() {
    const bool ok = !IsValid() || ::CloseHandle(mHandle);
    mHandle = nullptr;
    return ok;
  }

 private:
  HANDLE mHandle = nullptr;
};

// A process's access token (this process's by default), opened for `access`; none when it cannot be opened.
inline CHandle ProcessToken(DWORD access, HANDLE process = ::GetCurrentProcess()) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process, access, &token)) token = nullptr;
  return CHandle(token);
}

// Owner of an object this program got from the system, released by `Release`.
template <class T, void (*Release)(T)>
class COwned {
 public:
  COwned() = default;
  COwned(const COwned&) = delete;
  COwned& operator=(const COwned&) = delete;
  ~COwned() { Attach(nullptr); }
  void Attach(T object) {
    if (mObject) Release(mObject);
    mObject = object;
  }
  T Get() const { return mObject; }
  // For a call that hands out a new object: what was held is released first.
  T* Out() {
    Attach(nullptr);
    return &mObject;
  }

 private:
  T mObject = nullptr;
};

inline void FreeOwnedDescriptor(PSECURITY_DESCRIPTOR descriptor) {
  ::LocalFree(descriptor);
}
// A security descriptor the system allocated.
using CLocalDescriptor = COwned<PSECURITY_DESCRIPTOR, FreeOwnedDescriptor>;

class CLibrary {
 public:
  CLibrary() = default;
  explicit CLibrary(HMODULE module) : mModule(module) {}
  CLibrary(const CLibrary&) = delete;
  CLibrary& operator=(const CLibrary&) = delete;
  ~CLibrary() { Free(); }

  bool Load(const wchar_t* path) { return Attach(::LoadLibraryW(path)); }
  // Takes a module loaded elsewhere; false when it is null.
  bool Attach(HMODULE module) {
    Free();
    mModule = module;
    return mModule != nullptr;
  }
  void Free() {
    if (mModule) ::FreeLibrary(mModule);
    mModule = nullptr;
  }
  HMODULE Get() const { return mModule; }
  FARPROC Proc(const char* name) const { return mModule ? ::GetProcAddress(mModule, name) : nullptr; }
  // An entry point as the function type the caller knows it by; null when it is not there.
  template <typename Function>
  Function Entry(const char* name) const {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(Proc(name)));
  }

 private:
  HMODULE mModule = nullptr;
};
