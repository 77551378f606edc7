// Sends a console control event to the console of a process: console_event PID EVENT (0 is
// Ctrl-C). Started without a console, it attaches to the process's own, ignores the event
// itself, and sends it to every process there. Exit status 0 once it is sent, 1 otherwise.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  const DWORD process = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  const DWORD event = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
  ::FreeConsole();
  if (::AttachConsole(process) == 0) return 1;
  ::SetConsoleCtrlHandler(nullptr, TRUE);
  return ::GenerateConsoleCtrlEvent(event, 0) != 0 ? 0 : 1;
}
