// What starting a program with CreateProcessW takes: its command line, quoted as
// CommandLineToArgvW reads it back, and an environment block.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace remoteccm::testing {

// UTF-8 to UTF-16.
std::wstring Wide(const std::string& text);

// The program and its arguments as one command line.
std::wstring CommandLine(const std::string& program, const std::vector<std::string>& args);

// This process's environment with `variables` set over it (names compared without case), as
// CREATE_UNICODE_ENVIRONMENT takes it.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& variables);

}  // namespace remoteccm::testing
