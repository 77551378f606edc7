// Wine's kernel32 has wine_get_unix_file_name; Windows' has not, and there the path stays.
#include "platform/db/driver_file_path.h"

#include <windows.h>

namespace remoteccm {

std::string DriverFilePath(const std::filesystem::path& file) {
  using UnixName = char* (*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unix_name == nullptr) return file.string();
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  char* name = unix_name((error ? file : absolute).c_str());
  if (name == nullptr) return file.string();
  std::string path(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return path;
}

}  // namespace remoteccm
