#include <windows.h>

#include "support/cdr_database.h"

namespace remoteccm::testing {

// On Windows itself kernel32 has no wine_get_unix_file_name, and the path stays as it is.
std::string DriverFilePath(const std::filesystem::path& file) {
  using UnixName = char* (*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unix_name == nullptr) return file.string();
  char* name = unix_name(std::filesystem::absolute(file).c_str());
  if (name == nullptr) return file.string();
  std::string path(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return path;
}

}  // namespace remoteccm::testing
