// Where the program home and the install-area store are when nothing names them: the
// platform's side of the program home.
#pragma once

#include <filesystem>
#include <string>

namespace remoteccm {

// An environment variable, empty when unset.
std::string EnvironmentVariable(const char* name);

// POSIX: $XDG_CONFIG_HOME/remoteccm (~/.config/remoteccm). Win32: the executable's folder.
std::filesystem::path DefaultProgramHome();

// POSIX: $XDG_CONFIG_HOME/velmor/install.ini. Win32: none (empty): the system registry.
std::filesystem::path DefaultRegistryStore();

}  // namespace remoteccm
