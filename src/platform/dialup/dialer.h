// Dialling a dial-up connection before a run, and the phone book of entries that the properties
// dialog edits: the interface the engine and the dialog use, and the stand-in used where no
// dial-up networking is available.
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

// What an entry keeps for dialling, as reading its dial parameters loads it.
struct DialParams {
  std::string phone_number;
  std::string callback_number;
  std::string user_name;
  std::string password;  // empty when none is stored
  std::string domain;
  std::string entry_name;  // the entry's own spelling of its name, once it is found
};

// Every operation that returns an int returns a result code: 0 success, else a code that
// ErrorText turns into words. The methods with bodies are those a system without dial-up
// networking answers by refusing.
class Dialer {
 public:
  // The code of an operation this system cannot do.
  static constexpr int kNotAvailable = 1;
  // The code when an operation needs an entry name and none is given (or none is found).
  static constexpr int kNoEntry = 623;

  virtual ~Dialer() = default;
  // The entry's phone number, for the log ("Dialing... " + number).
  virtual std::string PhoneNumber(const std::string& entry_name) = 0;
  // Starts dialling; 0 when the dial was accepted, else an error code.
  virtual int Dial(const DialRequest& request) = 0;
  // Polled (with the message pump between calls) until it is no longer kPending; after a
  // connect it tells whether the link is still up.
  virtual DialState State() = 0;
  // Ends the link this dialer brought up (or the dial in progress); a link that was up before
  // the dial is left alone.
  virtual void HangUp() = 0;
  // The text of a result code (0 included).
  virtual std::string ErrorText(int code) = 0;

  // The names of the entries that can be dialled, in the phone book's order.
  virtual int ListEntries(std::vector<std::string>& names) {
    names.clear();
    return kNotAvailable;
  }
  // Makes entry_name the current entry and loads what it keeps for dialling into params.
  virtual int GetDialParams(const std::string& entry_name, DialParams& params) {
    params = DialParams{};
    params.entry_name = entry_name;
    return entry_name.empty() ? kNoEntry : kNotAvailable;
  }
  // Stores user name, password and domain with the entry, as far as the system keeps them.
  virtual int SetDialParams(const std::string& entry_name, const DialParams&) {
    return entry_name.empty() ? kNoEntry : kNotAvailable;
  }
  // Open the system's own editor to create an entry, or to edit entry_name, and return when it
  // closes; what is changed there is changed at once.
  virtual int CreateEntry() { return kNotAvailable; }
  virtual int EditEntry(const std::string& entry_name) {
    return entry_name.empty() ? kNoEntry : kNotAvailable;
  }
  // One line on how the dial in progress is going, for a status line ("" when idle).
  virtual std::string ProgressText() { return ""; }
  // Stops the dial in progress (the progress window's Cancel).
  virtual void Cancel() { HangUp(); }
  // The code of the error that ended the last accepted dial, 0 when none did.
  virtual int LastError() { return 0; }
  // Whether the last accepted dial found its link already up (and so leaves it up).
  virtual bool FoundAlreadyUp() { return false; }
};

// Refuses every dial and has no phone book: this system has no dial-up networking.
class UnavailableDialer : public Dialer {
 public:
  std::string PhoneNumber(const std::string&) override { return ""; }
  int Dial(const DialRequest&) override { return kNotAvailable; }
  DialState State() override { return DialState::kEnded; }
  void HangUp() override {}
  std::string ErrorText(int code) override {
    if (code == 0) return "Success";
    if (code == kNoEntry) return "The phone book entry could not be found.";
    return "Dial-up networking is not available on this system.";
  }
};

}  // namespace remoteccm
