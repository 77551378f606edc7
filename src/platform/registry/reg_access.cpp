#include "platform/registry/reg_access.h"

#include <system_error>
#include <utility>

#include "platform/registry/system_registry.h"
#include "util/ini_file.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// Opens the store for writing the way the install area is opened: folders and file created
// when missing. False when that is not possible.
bool OpenOrCreateStore(const std::filesystem::path& store_file) {
  std::error_code error;
  const std::filesystem::path folder = FolderOf(store_file);
  if (!std::filesystem::is_directory(folder, error)) {
    std::filesystem::create_directories(folder, error);
    if (error) return false;
  }
  try {
    const FileDescriptor store = OpenFile(store_file, O_RDWR | O_CREAT, 0600);
    // A store without any write permission, or in a folder that may not be written, does not
    // open for full access, whoever asks.
    return HasWritePermission(store.Get()) && MayWriteIn(folder);
  } catch (const FileError&) {
    return false;
  }
}

}  // namespace

TRegAccess::TRegAccess(std::filesystem::path store_file) : store_file_(std::move(store_file)) {}

std::string TRegAccess::GetRegistryItem(std::string_view section,
                                        std::string_view value_name) const {
  if (store_file_.empty()) return GetSystemRegistryItem(section, UpperCase(value_name));
  std::string value = ReadProfileValue(store_file_, section, UpperCase(value_name));
  if (value.size() > kShortTextMax) value.resize(kShortTextMax);
  return value;
}

void TRegAccess::SetRegistryItem(std::string_view section, std::string_view value_name,
                                 std::string_view value) const {
  const std::string name = UpperCase(value_name);
  if (store_file_.empty()) {
    SetSystemRegistryItem(section, name, value);
    return;
  }
  if (!OpenOrCreateStore(store_file_)) return;
  try {
    WriteProfileValue(store_file_, section, name, value);
  } catch (const IniWriteError& e) {
    throw RegistryError("Failed to set data for '" + name + "': " + e.what());
  }
}

}  // namespace remoteccm
