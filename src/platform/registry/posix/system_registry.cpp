// POSIX has no system registry: the install area is always a store file.
#include "platform/registry/system_registry.h"

namespace remoteccm {

std::string GetSystemRegistryItem(std::string_view /*section*/, const std::string& /*name*/) {
  return {};
}

void SetSystemRegistryItem(std::string_view /*section*/, const std::string& /*name*/,
                           std::string_view /*value*/) {}

}  // namespace remoteccm
