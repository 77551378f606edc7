// The system's own install area, where it has one (the platform's side): the Windows registry.
#pragma once

#include <string>
#include <string_view>

namespace remoteccm {

// As TRegAccess's, with the value name already upper-cased.
std::string GetSystemRegistryItem(std::string_view section, const std::string& name);
void SetSystemRegistryItem(std::string_view section, const std::string& name,
                           std::string_view value);

}  // namespace remoteccm
