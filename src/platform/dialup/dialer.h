// Dialling a dial-up connection before a run: the interface the engine uses, and the stand-in
// used where no dial-up networking is available.
#pragma once

#include <string>

namespace remoteccm {

// The dial state the engine waits on: 0 pending, 1 connected, 2 ended, 99 hang-up failed.
enum class DialState { kPending = 0, kConnected = 1, kEnded = 2, kHangUpFailed = 99 };

struct DialRequest {
  std::string entry_name;
  std::string user_name;
  std::string password;
  std::string domain;
};

class Dialer {
 public:
  virtual ~Dialer() = default;
  // The entry's phone number, for the log ("Dialing... " + number).
  virtual std::string PhoneNumber(const std::string& entry_name) = 0;
  // Starts dialling; 0 when the dial was accepted, else an error code.
  virtual int Dial(const DialRequest& request) = 0;
  // Polled (with the message pump between calls) until it is no longer kPending.
  virtual DialState State() = 0;
  virtual void HangUp() = 0;
  // The text of a result code (0 included).
  virtual std::string ErrorText(int code) = 0;
};

// Refuses every dial: this system has no dial-up networking.
class UnavailableDialer : public Dialer {
 public:
  static constexpr int kNotAvailable = 1;
  std::string PhoneNumber(const std::string&) override { return ""; }
  int Dial(const DialRequest&) override { return kNotAvailable; }
  DialState State() override { return DialState::kEnded; }
  void HangUp() override {}
  std::string ErrorText(int code) override {
    return code == 0 ? "Success" : "Dial-up networking is not available on this system.";
  }
};

}  // namespace remoteccm
