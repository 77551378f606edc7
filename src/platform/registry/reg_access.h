// TRegAccess: single text values in the product family's install area, one section per
// executable file name, value names upper-cased. On Linux the area is an INI store file; on
// Windows the registry (HKLM\SOFTWARE\velmor\Install), unless a store file is named.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace remoteccm {

// "Invalid data type for '%s'" and "Failed to set data for '%s': " with why the store could not
// be written.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TRegAccess {
 public:
  // An empty store_file is the system registry (Windows; elsewhere it has no values).
  explicit TRegAccess(std::filesystem::path store_file);

  // The value (at most 255 characters), empty when the section or value is missing or the
  // store cannot be read. Never creates anything.
  std::string GetRegistryItem(std::string_view section, std::string_view value_name) const;

  // Writes the value, creating the store and section when missing. A store that cannot be
  // opened or created is left alone silently; a refused write raises RegistryError.
  void SetRegistryItem(std::string_view section, std::string_view value_name,
                       std::string_view value) const;

 private:
  std::filesystem::path store_file_;
};

}  // namespace remoteccm
