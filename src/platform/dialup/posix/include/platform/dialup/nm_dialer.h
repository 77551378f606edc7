// The dialer on Linux: the entries are NetworkManager connection profiles (VPN, WireGuard,
// PPPoE, mobile broadband...), reached through nmcli. A dial activates the connection, a hang-up
// deactivates it, and only when this dialer brought it up.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/dialup/child_process.h"
#include "platform/dialup/dialer.h"

namespace remoteccm {

// The programs the dialer runs; tests give their own stand-ins.
struct NetworkManagerPrograms {
  std::string nmcli = "nmcli";
  std::string editor = "nm-connection-editor";
};

// One NetworkManager connection profile.
struct NmConnection {
  std::string uuid;
  std::string type;  // as nmcli names it: "vpn", "wireguard", "gsm", ...
  std::string name;
};

// Removes the password files that dials of runs killed since left for NetworkManager (each
// named with the process that made it, removed once that process is gone).
void RemoveStalePasswordFiles();

// Not for use from two threads at once.
class NetworkManagerDialer : public Dialer {
 public:
  // nmcli ended with status N: the code is kNmcliFailed + N (908: NetworkManager not running).
  static constexpr int kNmcliFailed = 900;
  static constexpr int kNotRunning = kNmcliFailed + 8;
  static constexpr int kNotInstalled = 950;  // no nmcli
  static constexpr int kUnreadable = 951;    // nmcli answered in a form not understood
  static constexpr int kNoEditor = 952;      // no connection editor can be opened
  static constexpr int kCannotStart = 953;   // a program was found but could not be started
  static constexpr int kEditorFailed = 954;  // the connection editor ended with an error

  explicit NetworkManagerDialer(NetworkManagerPrograms programs = {});
  ~NetworkManagerDialer() override;

  std::string PhoneNumber(const std::string& entry_name) override;
  int Dial(const DialRequest& request) override;
  DialState State() override;
  void HangUp() override;
  std::string ErrorText(int code) override;
  // The connections of the kinds that bring a remote network up (and the current entry,
  // whatever its kind), sorted by name; names a profile file cannot keep (line breaks) are
  // left out.
  int ListEntries(std::vector<std::string>& names) override;
  int GetDialParams(const std::string& entry_name, DialParams& loaded) override;
  // Stores the user name in the connection; the password is handed to NetworkManager at each
  // dial instead, and a domain has no place in a connection profile.
  int SetDialParams(const std::string& entry_name, const DialParams& params) override;
  int CreateEntry() override;
  int EditEntry(const std::string& entry_name) override;
  std::string ProgressText() override;
  int LastError() override { return last_error_; }
  bool FoundAlreadyUp() override { return found_up_; }

  // Every connection profile NetworkManager has.
  int Connections(std::vector<NmConnection>& connections);

 private:
  struct Active {
    std::string state;  // "activating", "activated", "deactivating"...
    std::string path;   // the active connection's D-Bus path
  };

  ProgramResult Nmcli(const std::vector<std::string>& args);
  int Failure(const ProgramResult& result);
  int Fail(int code, std::string detail);
  int Find(const std::string& name, NmConnection& found);
  int ActiveConnections(std::map<std::string, Active>& active);
  int Deactivate(const std::string& selector, const std::string& value);
  void Finish();
  void RemovePasswordFile();

  NetworkManagerPrograms programs_;
  std::vector<std::string> env_;
  std::map<int, std::string> details_;  // the words of the last failure of each code

  NmConnection entry_;  // the current entry (set entry, dial)
  ChildProcess activation_;
  std::string password_file_;
  DialState state_ = DialState::kEnded;
  bool dialing_ = false;  // a dial has been accepted and not hung up
  bool ours_ = false;     // this dialer brought the link up
  bool found_up_ = false;
  std::string active_path_;
  int last_error_ = 0;
};

}  // namespace remoteccm
