// RunCli on Windows: no shell, so the variables and the arguments are read as the shell would
// read them (single and double quotes, backslashes) and the program is started with
// CreateProcessW, its output read through a pipe.
#include "support/run_cli.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "support/win32/process_start.h"

namespace remoteccm::testing {
namespace {

std::vector<std::string> ShellWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\'') {
      const std::size_t end = text.find('\'', i + 1);
      word += text.substr(i + 1, end - i - 1);
      i = end == std::string::npos ? text.size() : end;
      in_word = true;
    } else if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        word += text[i];
      }
      in_word = true;
    } else if (c == '\\' && i + 1 < text.size()) {
      word += text[++i];
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

}  // namespace

CliResult RunCli(const std::string& env, const std::string& args, bool with_stderr,
                 const std::string& program) {
  CliResult result;
  std::wstring command = CommandLine(program, ShellWords(args));
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (::CreatePipe(&read_end, &write_end, &inherit, 0) == 0) return result;
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  const HANDLE null_device =
      ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_device;
  startup.hStdOutput = write_end;
  startup.hStdError = with_stderr ? write_end : null_device;
  PROCESS_INFORMATION process{};
  std::map<std::string, std::string> variables;
  for (const std::string& word : ShellWords(env)) {
    const std::size_t equals = word.find('=');
    if (equals != std::string::npos) variables[word.substr(0, equals)] = word.substr(equals + 1);
  }
  std::wstring environment = EnvironmentBlock(variables);
  const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
                                        environment.data(), nullptr, &startup, &process) != 0;
  ::CloseHandle(write_end);
  ::CloseHandle(null_device);
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) {
      result.out.append(buffer, got);
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code) != 0) result.status = static_cast<int>(code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
  }
  ::CloseHandle(read_end);
  return result;
}

}  // namespace remoteccm::testing
