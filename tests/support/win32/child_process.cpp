// ChildProcess on Windows: CreateProcessW with a console of the child's own (no window), so
// that Ctrl-C can be sent to that console alone. A process can send a console's control events
// only from inside it and must leave its own to get there: a small program of its own
// (REMOTECCM_CONSOLE_EVENT_PATH) does that, and the test's process keeps its console.
#include "support/child_process.h"

#include <windows.h>

#include "support/win32/process_start.h"

namespace remoteccm::testing {
namespace {

HANDLE Inheritable(const std::filesystem::path& file, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts command and waits for its exit status (-1 when it could not be started).
int RunToItsEnd(std::wstring command, DWORD flags) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                       &startup, &process) == 0) {
    return -1;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  return static_cast<int>(code);
}

}  // namespace

std::vector<StopRequest> StopRequests() { return {{"Ctrl-C", CTRL_C_EVENT}}; }

long ThisProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& variables,
                           const std::filesystem::path& output,
                           const std::filesystem::path& errors) {
  std::wstring command = CommandLine(program, args);
  std::wstring environment = EnvironmentBlock(variables);
  // Appended to, as the POSIX side's freopen "a" does: FILE_APPEND_DATA alone writes at the end.
  const HANDLE input = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE out = Inheritable(output, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
  const HANDLE err = Inheritable(errors, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
      ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(), nullptr,
                       &startup, &process) != 0) {
    id_ = static_cast<int>(process.dwProcessId);
    handle_ = process.hProcess;
    ::CloseHandle(process.hThread);
  } else {
    status_ = kNotStartedStatus;
  }
  for (const HANDLE handle : {input, out, err}) {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
}

ChildProcess::~ChildProcess() {
  if (handle_ == nullptr) return;
  if (!status_) {
    Kill();
    Wait();
  }
  ::CloseHandle(handle_);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : id_(other.id_), handle_(other.handle_), status_(other.status_) {
  other.id_ = -1;
  other.handle_ = nullptr;
  other.status_ = kNotStartedStatus;
}

int ChildProcess::Wait() {
  if (!status_) {
    ::WaitForSingleObject(handle_, INFINITE);
    DWORD code = 0;
    status_ = ::GetExitCodeProcess(handle_, &code) != 0 ? static_cast<int>(code) : -1;
  }
  return *status_;
}

std::optional<int> ChildProcess::Ended() {
  if (!status_ && ::WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0) Wait();
  return status_;
}

void ChildProcess::Kill() {
  if (!status_) ::TerminateProcess(handle_, kKilledStatus);
}

void ChildProcess::Stop() { Stop(StopRequests().front()); }

void ChildProcess::Stop(const StopRequest& how) {
  if (status_) return;
  const std::wstring command =
      CommandLine(REMOTECCM_CONSOLE_EVENT_PATH, {std::to_string(id_), std::to_string(how.code)});
  // Without a console of its own, so that it may attach to the child's.
  if (RunToItsEnd(command, DETACHED_PROCESS) != 0) {
    // Not delivered: the child would run on, and the test wait for it forever. It is killed,
    // and the test sees a kill's status instead of a stop's.
    Kill();
  }
}

}  // namespace remoteccm::testing
