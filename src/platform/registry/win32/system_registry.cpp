// The install area in the Windows registry: HKEY_LOCAL_MACHINE\SOFTWARE\velmor\Install\<section>,
// opened for full access as every program of the family opens it. A user who may not write
// the local-machine hive gets the same keys under HKEY_CURRENT_USER, and is told so once.
#include "platform/registry/system_registry.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/registry/reg_access.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

std::string KeyOf(std::string_view section) {
  return "SOFTWARE\\velmor\\Install\\" + std::string(section);
}

// Once per process: where the install area is, when it is not where the design puts it.
void SayFallingBack() {
  static bool said = false;
  if (said) return;
  said = true;
  std::fputs(
      "remoteccm: this user may not write HKEY_LOCAL_MACHINE\\SOFTWARE\\velmor\\Install; "
      "the install area is kept under HKEY_CURRENT_USER\\SOFTWARE\\velmor\\Install instead\n",
      stderr);
}

// The section's key for full access, in the local-machine hive or else the user's; null when
// neither opens (or, unless create, exists).
HKEY OpenSection(std::string_view section, bool create) {
  const std::string key = KeyOf(section);
  HKEY opened = nullptr;
  LONG result = create
                    ? ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &opened, nullptr)
                    : ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &opened);
  if (result == ERROR_SUCCESS) return opened;
  if (result != ERROR_ACCESS_DENIED) return nullptr;
  SayFallingBack();
  result = create ? ::RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &opened, nullptr)
                  : ::RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS, &opened);
  return result == ERROR_SUCCESS ? opened : nullptr;
}

}  // namespace

std::string GetSystemRegistryItem(std::string_view section, const std::string& name) {
  const HKEY key = OpenSection(section, false);
  if (key == nullptr) return {};
  DWORD type = 0;
  DWORD size = 0;
  LONG result = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  std::string value;
  if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) {
    ::RegCloseKey(key);
    throw RegistryError("Invalid data type for '" + name + "'");
  }
  if (result == ERROR_SUCCESS && size > 0) {
    std::string data(size, '\0');
    result = ::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(data.data()), &size);
    if (result == ERROR_SUCCESS) {
      data.resize(std::min<std::size_t>(size, data.size()));
      while (!data.empty() && data.back() == '\0') data.pop_back();
      value = data;
    }
  }
  ::RegCloseKey(key);
  if (value.size() > kShortTextMax) value.resize(kShortTextMax);
  return value;
}

void SetSystemRegistryItem(std::string_view section, const std::string& name,
                           std::string_view value) {
  const HKEY key = OpenSection(section, true);
  if (key == nullptr) return;
  const std::string data(value);
  const LONG result =
      ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
  ::RegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    throw RegistryError("Failed to set data for '" + name + "': the registry refused (error " +
                        std::to_string(result) + ")");
  }
}

}  // namespace remoteccm
