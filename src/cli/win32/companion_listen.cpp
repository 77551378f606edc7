// --companion-listen on Windows: a window as the companion program has one (captioned
// "Halvorix Call Accounting by Velmor", with a "TransferBox1" child), whose characters are
// printed a whole line at a time. Ctrl-C or closing the window ends it.
#include <windows.h>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "util/stop_signals.h"

namespace remoteccm {
namespace {

constexpr char kCaption[] = "Halvorix Call Accounting by Velmor";
constexpr char kFrameClass[] = "RemoteccmCompanionFrame";
constexpr char kBoxClass[] = "RemoteccmTransferBox";

std::string g_partial;
int g_status = kExitOk;

LRESULT CALLBACK BoxProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_CHAR) return ::DefWindowProcA(window, message, wparam, lparam);
  g_partial += static_cast<char>(wparam & 0xff);
  if (g_partial.back() == '\n') {
    if (std::fwrite(g_partial.data(), 1, g_partial.size(), stdout) != g_partial.size() ||
        std::fflush(stdout) != 0) {
      g_status = kExitIoError;
      ::PostQuitMessage(0);
    }
    g_partial.clear();
  }
  return 0;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int CompanionListenCommand(const std::string& given_path) {
  if (!given_path.empty()) {
    std::fputs(
        "remoteccm-cli: --companion-listen takes no PATH on Windows: it listens as a window\n",
        stderr);
    return kExitUsage;
  }
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSA frame_class{};
  frame_class.lpfnWndProc = FrameProc;
  frame_class.hInstance = instance;
  frame_class.lpszClassName = kFrameClass;
  WNDCLASSA box_class{};
  box_class.lpfnWndProc = BoxProc;
  box_class.hInstance = instance;
  box_class.lpszClassName = kBoxClass;
  HWND frame = nullptr;
  if (::RegisterClassA(&frame_class) != 0 && ::RegisterClassA(&box_class) != 0) {
    frame = ::CreateWindowExA(0, kFrameClass, kCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance, nullptr);
  }
  if (frame == nullptr ||
      ::CreateWindowExA(0, kBoxClass, "TransferBox1", WS_CHILD | WS_VISIBLE, 0, 0, 400, 300, frame,
                        nullptr, instance, nullptr) == nullptr) {
    std::fprintf(stderr, "remoteccm-cli: cannot make the companion window (error %lu)\n",
                 ::GetLastError());
    return kExitIoError;
  }
  BlockStopSignals();
  const StopSignalWatcher watcher([frame] { ::PostMessageA(frame, WM_CLOSE, 0, 0); });
  std::fprintf(stderr, "remoteccm-cli: listening as the window \"%s\" (Ctrl-C ends)\n", kCaption);
  std::fflush(stderr);
  MSG message{};
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  // What came after the last line feed.
  if (!g_partial.empty() && g_status == kExitOk &&
      (std::fwrite(g_partial.data(), 1, g_partial.size(), stdout) != g_partial.size() ||
       std::fflush(stdout) != 0)) {
    g_status = kExitIoError;
  }
  return g_status;
}

}  // namespace remoteccm
