#pragma once
// Libraries that are not among the system's known DLLs would be looked for in the program's own
// folder first, where anybody who can write there could plant one. These are loaded by their
// full path in the system folder instead of being imported.
#include <windows.h>

#include <string>

namespace quorvel::framework {

// The library `name` ("version.dll") from the system folder; null when it cannot be loaded.
inline HMODULE LoadSystemLibrary(const char* name) {
  char folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return LoadLibraryA((std::string(folder) + "\\" + name).c_str());
}

// The function `name` of the system library `library`, as type `Function`; null when either is
// missing. The library stays loaded until the program ends.
template <typename Function>
Function SystemFunction(const char* library, const char* name) {
  HMODULE module = LoadSystemLibrary(library);
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

}  // namespace quorvel::framework
