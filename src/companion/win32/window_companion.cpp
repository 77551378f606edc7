// The companion link on Windows: the companion's window, found once at start-up, receives each
// log line and a line feed as WM_CHAR messages, one per character. The messages are posted, so
// a run never waits for the companion and never learns whether they arrived.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "companion/companion_link.h"

namespace remoteccm {
namespace {

class WindowCompanionLink : public CompanionLink {
 public:
  explicit WindowCompanionLink(HWND input) : input_(input) {}

  // text is the line and its line feed, as the engine hands them over.
  void Send(std::string_view text) override {
    for (const char c : text) Post(c);
  }
  // Posted messages cannot be counted as taken or missed.
  std::uint64_t FinishRun(std::chrono::milliseconds /*limit*/) override { return 0; }

 private:
  void Post(char c) const {
    ::PostMessageA(input_, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 0);
  }

  HWND input_;
};

// The companion's input box: the memo of a "TTransForm1" window, or else the child captioned
// "TransferBox1" of the window captioned "Halvorix Call Accounting by Velmor". A "TTransForm1"
// window without a memo means no companion, whatever else is open.
HWND FindCompanionInput() {
  if (const HWND form = ::FindWindowA("TTransForm1", nullptr); form != nullptr) {
    return ::FindWindowExA(form, nullptr, "TMemo", nullptr);
  }
  if (const HWND main = ::FindWindowA(nullptr, "Halvorix Call Accounting by Velmor");
      main != nullptr) {
    return ::FindWindowExA(main, nullptr, nullptr, "TransferBox1");
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<CompanionLink> FindCompanionLink(std::string* problem) {
  if (problem != nullptr) problem->clear();
  const HWND input = FindCompanionInput();
  if (input == nullptr) return nullptr;
  return std::make_unique<WindowCompanionLink>(input);
}

}  // namespace remoteccm
