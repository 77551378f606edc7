// The Win32 side: consoles instead of terminals, files compared by volume and file index, and no
// journal. A halted fault point has no SIGSTOP here: it ends the process as the other does.
#include "cli/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <string_view>

#include "cli/cli_observer.h"

namespace remoteccm {
namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

}  // namespace

void WriteStandardStreamsAsBytes() {
  for (int fd = 0; fd <= 2; ++fd) ::_setmode(fd, _O_BINARY);
}

std::string_view PlatformHelpNotes() {
  return "\n"
         "On Windows: without --home and REMOTECCM_HOME the program home is the folder of\n"
         "remoteccm-cli.exe; the install area is the registry (HKEY_LOCAL_MACHINE, else\n"
         "HKEY_CURRENT_USER, \\SOFTWARE\\velmor\\Install) unless REMOTECCM_REGISTRY names a\n"
         "store file; --list-zones lists the registry's time zones; --list-links lists the RAS\n"
         "phone-book entries; --companion-listen opens a companion window (no PATH); Ctrl-C,\n"
         "Ctrl-Break and closing the console stop a run: it ends 6, and nothing it read is lost.\n"
         "\n"
         "Environment: REMOTECCM_HOME (the program home), REMOTECCM_REGISTRY (the install-area\n"
         "store file), REMOTECCM_METRICS_DIR (the metrics folder).\n";
}

bool IsTerminal(int fd) {
  DWORD mode = 0;
  return ::GetConsoleMode(HandleOf(fd), &mode) != 0;
}

int TerminalWidth(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(HandleOf(fd), &info) == 0) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

int WriteFully(int fd, std::string_view text) {
  while (!text.empty()) {
    const unsigned int part =
        static_cast<unsigned int>(std::min<std::size_t>(text.size(), 1U << 20));
    const int n = ::_write(fd, text.data(), part);
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0) {
      return errno;
    }
  }
  return 0;
}

// A write to a closed pipe fails with EPIPE on Windows; there is no signal to ignore.
void SurviveLostOutput() {}

void EndProcessHere(bool /*halt*/) { ::TerminateProcess(::GetCurrentProcess(), 137); }

bool SameOpenFile(int fd, int other_fd) {
  BY_HANDLE_FILE_INFORMATION one{};
  BY_HANDLE_FILE_INFORMATION other{};
  return ::GetFileInformationByHandle(HandleOf(fd), &one) != 0 &&
         ::GetFileInformationByHandle(HandleOf(other_fd), &other) != 0 &&
         one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

bool IsJournalStream(int /*fd*/) { return false; }

}  // namespace remoteccm
