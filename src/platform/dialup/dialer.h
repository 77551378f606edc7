// Dialling a dial-up connection before a run, and the phone book of dial-up entries that the
// properties dialog edits: the interface the engine and the dialog use, and the stand-in used
// where no dial-up networking is available.
#pragma once

#include <string>
#include <vector>

namespace remoteccm {

// The dial state the engine waits on: 0 pending, 1 connected, 2 ended, 99 hang-up failed.
enum class DialState { kPending = 0, kConnected = 1, kEnded = 2, kHangUpFailed = 99 };

struct DialRequest {
  std::string entry_name;
  std::string user_name;
  std::string password;
  std::string domain;
};

// What an entry keeps for dialling it; the password only when one is stored.
struct DialParams {
  std::string phone_number;
  std::string callback_number;
  std::string user_name;
  std::string password;
  std::string domain;
};

class Dialer {
 public:
  // The result of an operation that needs an entry name and was given none.
  static constexpr int kNoEntryName = 623;

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

  // The phone book. Each returns 0 or an error code (kNoEntryName for an empty name).
  // The names of the entries, in the phone book's order.
  virtual int ListEntries(std::vector<std::string>& names) = 0;
  // What the entry keeps for dialling (user name, domain, password when stored...).
  virtual int GetDialParams(const std::string& entry_name, DialParams& params) = 0;
  // Stores user name, password and domain (and the numbers) as the entry's dial parameters.
  virtual int SetDialParams(const std::string& entry_name, const DialParams& params) = 0;
  // Open the system's own editor for a new entry or for this one and return when it closes;
  // what is changed there is changed at once.
  virtual int CreateEntry() = 0;
  virtual int EditEntry(const std::string& entry_name) = 0;
};

// Refuses every dial and has no phone book: this system has no dial-up networking.
class UnavailableDialer : public Dialer {
 public:
  static constexpr int kNotAvailable = 1;
  std::string PhoneNumber(const std::string&) override { return ""; }
  int Dial(const DialRequest&) override { return kNotAvailable; }
  DialState State() override { return DialState::kEnded; }
  void HangUp() override {}
  std::string ErrorText(int code) override {
    if (code == 0) return "Success";
    if (code == kNoEntryName) return "The phone book entry could not be found.";
    return "Dial-up networking is not available on this system.";
  }
  int ListEntries(std::vector<std::string>& names) override {
    names.clear();
    return kNotAvailable;
  }
  int GetDialParams(const std::string& entry_name, DialParams&) override {
    return entry_name.empty() ? kNoEntryName : kNotAvailable;
  }
  int SetDialParams(const std::string& entry_name, const DialParams&) override {
    return entry_name.empty() ? kNoEntryName : kNotAvailable;
  }
  int CreateEntry() override { return kNotAvailable; }
  int EditEntry(const std::string& entry_name) override {
    return entry_name.empty() ? kNoEntryName : kNotAvailable;
  }
};

}  // namespace remoteccm
