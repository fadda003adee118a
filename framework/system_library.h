#pragma once
// Libraries that are not among the system's known DLLs would be looked for in the program's own
// folder first, where anybody who can write there could plant one, and so would the libraries
// they load in turn. Such libraries are loaded at run time from the system folder instead of
// being imported.
#include <windows.h>

#include <string>

#include "framework/library_loading.h"

namespace quorvel::framework {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// GetProcAddress returns a generic function pointer; the detour through void(*)() tells the
// compiler the change of type is intended.
template <typename Function>
Function LibraryFunction(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Function>(
                      reinterpret_cast<void (*)()>(GetProcAddress(module, name)))
                : nullptr;
}

// Windows 8 and later, and Windows 7 with the loader update, have it; where it is, LoadLibraryExA
// also knows the system-folder search.
inline SetDefaultDllDirectoriesFunction SetDefaultDllDirectoriesOfLoader() {
  static const auto function = LibraryFunction<SetDefaultDllDirectoriesFunction>(
      GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  return function;
}

// First thing in each program: every later load by name searches the system folder alone.
// Where the loader cannot, the current folder at least leaves the search.
inline void RestrictLibrarySearch() {
  if (const auto setDefault = SetDefaultDllDirectoriesOfLoader()) {
    setDefault(kLoadLibrarySearchSystem32);
  } else {
    SetDllDirectoryA("");
  }
}

inline std::string SystemFolder() {
  char folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : std::string(folder, length);
}

// The library `name` ("version.dll") from the system folder, its own dependencies too; null when
// it cannot be loaded.
inline HMODULE LoadSystemLibrary(const char* name) {
  const LibraryLoad load =
      SystemLibraryLoad(name, SetDefaultDllDirectoriesOfLoader() != nullptr, SystemFolder());
  if (load.file.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return LoadLibraryExA(load.file.c_str(), nullptr, load.flags);
}

// The function `name` of the system library `library`, as type `Function`; null when either is
// missing. The library stays loaded until the program ends.
template <typename Function>
Function SystemFunction(const char* library, const char* name) {
  return LibraryFunction<Function>(LoadSystemLibrary(library), name);
}

}  // namespace quorvel::framework
