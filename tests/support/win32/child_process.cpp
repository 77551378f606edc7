// ChildProcess on Windows: CreateProcessW, the child without a console (as a service runs),
// except a stoppable one, which gets a console of its own (no window) so that Ctrl-C can be
// sent to that console alone. A process sends a console's control events only from inside it
// and must leave its own to get there: a small program (REMOTECCM_CONSOLE_EVENT_PATH) does
// that, and the test's process keeps its console.
#include "support/child_process.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "support/win32/process_start.h"

namespace remoteccm::testing {
namespace {

// Why a child was not started, on the test's standard error (ctest shows it beside the failed
// check): the step, what it was for, and the Win32 error.
void SayWhyNotStarted(const char* step, const std::string& subject) {
  const DWORD error = ::GetLastError();
  char text[512] = "";
  ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
  std::fprintf(stderr, "ChildProcess: %s %s failed: error %lu %s\n", step, subject.c_str(),
               static_cast<unsigned long>(error), text);
}

HANDLE Inheritable(const std::filesystem::path& file, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE handle =
      ::CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) SayWhyNotStarted("opening", file.string());
  return handle;
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
                           const std::filesystem::path& output, const std::filesystem::path& errors,
                           bool stoppable) {
  std::wstring command = CommandLine(program, args);
  std::wstring environment = EnvironmentBlock(variables);
  // Appended to, as the POSIX side's freopen "a" does: FILE_APPEND_DATA alone writes at the end.
  const HANDLE input = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE out = Inheritable(output, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
  const HANDLE err = Inheritable(errors, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
  // The child inherits these three handles and no other: a file another thread of the test
  // has open at that moment (the CRT's handles are inheritable) would stay open in the child,
  // and the test could not rename it.
  HANDLE inherited[] = {input, out, err};
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> list(size);
  const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = input;
  startup.StartupInfo.hStdOutput = out;
  startup.StartupInfo.hStdError = err;
  startup.lpAttributeList = attributes;
  PROCESS_INFORMATION process{};
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT |
                      (stoppable ? CREATE_NO_WINDOW : DETACHED_PROCESS);
  const bool listed = ::InitializeProcThreadAttributeList(attributes, 1, 0, &size) != 0;
  const char* failed = nullptr;
  if (input == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
    failed = "";  // said when it was opened
  } else if (!listed) {
    failed = "InitializeProcThreadAttributeList";
  } else if (::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                         inherited, sizeof inherited, nullptr, nullptr) == 0) {
    failed = "UpdateProcThreadAttribute";
  } else if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags,
                              environment.data(), nullptr, &startup.StartupInfo, &process) == 0) {
    failed = "CreateProcessW";
  }
  if (failed == nullptr) {
    id_ = static_cast<int>(process.dwProcessId);
    handle_ = process.hProcess;
    ::CloseHandle(process.hThread);
  } else {
    if (*failed != '\0') SayWhyNotStarted(failed, program);
    status_ = kNotStartedStatus;
  }
  if (listed) ::DeleteProcThreadAttributeList(attributes);
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
