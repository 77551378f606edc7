#include "support/win32/process_start.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

namespace remoteccm::testing {
namespace {

// One argument as CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  std::size_t slashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++slashes;
    } else if (c == L'"') {
      quoted.append(slashes * 2 + 1, L'\\');
      slashes = 0;
    } else {
      slashes = 0;
    }
    quoted += c;
  }
  quoted.append(slashes, L'\\');
  return quoted + L"\"";
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

}  // namespace

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::wstring CommandLine(const std::string& program, const std::vector<std::string>& args) {
  std::wstring command = Quoted(Wide(program));
  for (const std::string& arg : args) command += L" " + Quoted(Wide(arg));
  return command;
}

std::wstring EnvironmentBlock(const std::map<std::string, std::string>& variables) {
  std::map<std::wstring, std::wstring> values;
  std::map<std::wstring, std::wstring> spelled;
  wchar_t* own = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = own; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring text(entry);
    const std::size_t equals = text.find(L'=', 1);
    if (equals == std::wstring::npos) continue;
    const std::wstring key = text.substr(0, equals);
    values[Upper(key)] = text.substr(equals + 1);
    spelled[Upper(key)] = key;
  }
  ::FreeEnvironmentStringsW(own);
  for (const auto& [name, value] : variables) {
    const std::wstring key = Wide(name);
    values[Upper(key)] = Wide(value);
    spelled[Upper(key)] = key;
  }
  std::wstring block;
  for (const auto& [upper, value] : values) block += spelled[upper] + L"=" + value + L'\0';
  return block + L'\0';
}

}  // namespace remoteccm::testing
