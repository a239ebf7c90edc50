#pragma once
// A kernel32 function looked up at run time, for what the oldest supported systems lack.
#include <windows.h>

// Null when this system's kernel32 has no function of that name.
template <typename Function>
Function KernelFunction(const char* name) {
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)))
                : nullptr;
}
