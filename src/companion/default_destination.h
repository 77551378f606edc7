// The destination file proposed when a profile names none: in the install folder of the first
// companion program found in the install-area store, else in the program home.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry/reg_access.h"

namespace remoteccm {

// entity_name: the text given with /ENTITY: (empty when none). program_home: the folder that
// stands for the executable's folder.
std::string DefaultDestinationFile(const TRegAccess& registry, std::string_view entity_name,
                                   const std::string& program_home);

}  // namespace remoteccm
