// The program home: the folder that stands for "the folder of the program's executable"
// (profiles, field-list files), and where the family's install-area store lives.
#pragma once

#include <filesystem>
#include <string>

namespace remoteccm {

// $REMOTECCM_HOME, else $XDG_CONFIG_HOME/remoteccm (~/.config/remoteccm; on Windows the
// executable's folder); created on first use.
std::filesystem::path ProgramHome();

// Where ProgramHome() is, without creating it: for the commands that only look (--status),
// where a mistyped --home must be said, not made.
std::filesystem::path ProgramHomeLocation();

// Overrides ProgramHome() for this process (the CLI's --home, tests); an empty path ends it.
void SetProgramHome(const std::filesystem::path& home);

// The install-area store file: $REMOTECCM_REGISTRY, else $XDG_CONFIG_HOME/velmor/install.ini.
std::filesystem::path RegistryStorePath();

// Removes the temporary files killed saves left (they may hold passwords) in the program
// home and in the install-area store's folder (which it does not create); both programs call
// it at start-up.
void RemoveStaleTemporaryFiles();

// The store section of this program, shared by remoteccm and remoteccm-cli: "remoteccm".
std::string OwnExecutableFileName();

}  // namespace remoteccm
