// The two ways Windows lists COM ports: the device set-up interface, reached at run time so
// that the program still starts where it is missing, and probing each name for a default
// configuration.
#include <windows.h>
// windows.h first: setupapi.h builds on its types.
#include <setupapi.h>

#include <cstdio>
#include <cstring>

#include "framework/system_library.h"
#include "service/boxlink/port_enumeration.h"

namespace quorvel {
namespace {

using OpenDevRegKeyFn = HKEY(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM);
using ClassGuidsFromNameFn = BOOL(WINAPI*)(PCSTR, LPGUID, DWORD, PDWORD);
using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
using DestroyDeviceInfoListFn = BOOL(WINAPI*)(HDEVINFO);
using EnumDeviceInfoFn = BOOL(WINAPI*)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);

constexpr unsigned kHighestProbedPort = 255;

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  // GetProcAddress returns a generic function pointer; the detour through void(*)() tells
  // the compiler the change of type is intended.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// SETUPAPI.DLL, loaded from the system folder for one enumeration.
class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char* name) : module_(framework::LoadSystemLibrary(name)) {}
  ~LoadedLibrary() {
    if (module_) FreeLibrary(module_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

struct SetupApi {
  OpenDevRegKeyFn openDevRegKey;
  ClassGuidsFromNameFn classGuidsFromName;
  GetClassDevsFn getClassDevs;
  DestroyDeviceInfoListFn destroyDeviceInfoList;
  EnumDeviceInfoFn enumDeviceInfo;

  explicit SetupApi(HMODULE module)
      : openDevRegKey(Lookup<OpenDevRegKeyFn>(module, "SetupDiOpenDevRegKey")),
        classGuidsFromName(Lookup<ClassGuidsFromNameFn>(module, "SetupDiClassGuidsFromNameA")),
        getClassDevs(Lookup<GetClassDevsFn>(module, "SetupDiGetClassDevsA")),
        destroyDeviceInfoList(
            Lookup<DestroyDeviceInfoListFn>(module, "SetupDiDestroyDeviceInfoList")),
        enumDeviceInfo(Lookup<EnumDeviceInfoFn>(module, "SetupDiEnumDeviceInfo")) {}
  bool Complete() const {
    return openDevRegKey && classGuidsFromName && getClassDevs && destroyDeviceInfoList &&
           enumDeviceInfo;
  }
};

// The COM number in the "PortName" value of one device's registry key, if it has one.
std::optional<unsigned> PortNumberOfDevice(const SetupApi& api, HDEVINFO set,
                                           SP_DEVINFO_DATA& device) {
  const HKEY key = api.openDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == nullptr || key == INVALID_HANDLE_VALUE) return std::nullopt;
  char name[256];
  DWORD type = 0;
  DWORD size = sizeof name;
  const LONG result =
      RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  // A registry string need not carry its terminating zero.
  return ComNumberFromPortName(std::string(name, strnlen(name, size)));
}

// The class identifiers of "Ports"; empty when there are none or they cannot be read.
std::vector<GUID> PortClassGuids(const SetupApi& api) {
  DWORD count = 0;
  api.classGuidsFromName("Ports", nullptr, 0, &count);
  if (count == 0) return {};
  std::vector<GUID> guids(count);
  if (!api.classGuidsFromName("Ports", guids.data(), count, &count)) return {};
  return guids;
}

}  // namespace

bool EnumeratePortsSetupApi(std::vector<unsigned>& ports) {
  ports.clear();
  const LoadedLibrary library("SETUPAPI.DLL");
  if (!library.get()) return false;
  const SetupApi api(library.get());
  if (!api.Complete()) return false;
  const std::vector<GUID> guids = PortClassGuids(api);
  if (guids.empty()) return false;
  const HDEVINFO set = api.getClassDevs(&guids[0], nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return false;
  for (DWORD member = 0;; ++member) {
    // The record's size is the platform's own: 28 bytes in a 32-bit program, 32 in a 64-bit one.
    static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void*) == 4 ? 28 : 32));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!api.enumDeviceInfo(set, member, &device)) break;
    if (const auto number = PortNumberOfDevice(api, set, device)) ports.push_back(*number);
  }
  api.destroyDeviceInfoList(set);
  return true;
}

bool EnumeratePortsByConfig(std::vector<unsigned>& ports) {
  ports.clear();
  for (unsigned n = 1; n <= kHighestProbedPort; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%u", n);
    COMMCONFIG config{};
    DWORD size = sizeof config;
    if (GetDefaultCommConfigA(name, &config, &size)) ports.push_back(n);
  }
  return true;
}

}  // namespace quorvel
