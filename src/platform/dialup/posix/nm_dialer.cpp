// One piece: every question to nmcli and the reading of its answers, which share its
// fixed language and its failure codes.

#include "platform/dialup/nm_dialer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string_view>

#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kSecretsPrefix = "remoteccm-secrets-";

// Where the dial's password file goes: the user's runtime folder, else a folder of this user's
// own under /tmp, made 0700 and refused when it is anyone else's or open to others. Empty when
// there is no such folder.
std::string SecretsFolder(bool create = true) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime != nullptr && *runtime != '\0'
                           ? std::string(runtime)
                           : "/tmp/remoteccm-" + std::to_string(::getuid());
  if (create) ::mkdir(folder.c_str(), 0700);
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
      (info.st_mode & 077) != 0) {
    return "";
  }
  return folder;
}

// Whether a process that made a file is gone.
bool ProcessGone(std::string_view pid_text) {
  const long pid = std::strtol(std::string(pid_text).c_str(), nullptr, 10);
  return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// The note that this program brought a link up, so that a run killed before it hung up leaves
// the link to the next run to take down. Empty when there is no folder for it.
std::string LinkNotePath(std::string_view uuid) {
  if (uuid.empty() || uuid.find_first_not_of("0123456789abcdefABCDEF-") != std::string_view::npos) {
    return "";
  }
  const std::string folder = SecretsFolder();
  return folder.empty() ? "" : folder + "/remoteccm-link-" + std::string(uuid);
}

void NoteLinkOurs(std::string_view uuid) {
  const std::string path = LinkNotePath(uuid);
  if (!path.empty()) std::ofstream(path, std::ios::trunc) << ::getpid() << '\n';
}

void ForgetLink(std::string_view uuid) {
  const std::string path = LinkNotePath(uuid);
  if (!path.empty()) ::unlink(path.c_str());
}

// Whether the link is up because a run of this program, killed since, brought it up.
bool LeftUpByAKilledRun(std::string_view uuid) {
  const std::string path = LinkNotePath(uuid);
  std::ifstream in(path);
  std::string pid;
  return !path.empty() && std::getline(in, pid) && ProcessGone(pid);
}

// Password files left by a run killed during its dial: each is named with the process that
// made it, and goes once that process is gone.
void RemoveStaleSecrets(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (!name.starts_with(kSecretsPrefix)) continue;
    const std::string_view rest = name.substr(kSecretsPrefix.size());
    const std::size_t dash = rest.find('-');
    const std::string path = folder + "/" + std::string(name);
    struct stat info {};
    if (dash == std::string_view::npos || ::lstat(path.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
      continue;
    }
    if (ProcessGone(rest.substr(0, dash))) ::unlink(path.c_str());
  }
  ::closedir(dir);
}

// The kinds of connection that bring a remote network up, and so are worth listing.
const std::set<std::string, std::less<>> kLinkTypes = {"vpn",  "wireguard", "pppoe", "gsm",
                                                       "cdma", "bluetooth", "adsl",  "ip-tunnel"};

// Where each kind keeps what a dial needs: number, user name, password.
struct DialFields {
  std::string_view type;
  std::string_view number;
  std::string_view user;
  std::string_view password;
};
constexpr DialFields kDialFields[] = {
    {"gsm", "gsm.number", "gsm.username", "gsm.password"},
    {"cdma", "cdma.number", "cdma.username", "cdma.password"},
    {"pppoe", "", "pppoe.username", "pppoe.password"},
    {"vpn", "", "vpn.user-name", "vpn.secrets"},
};

const DialFields* FieldsOf(std::string_view type) {
  for (const DialFields& fields : kDialFields) {
    if (fields.type == type) return &fields;
  }
  return nullptr;
}

bool IsUuid(std::string_view text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// The first line nmcli wrote to say what went wrong, without its "Error: ".
std::string FirstLine(std::string_view text) {
  for (std::string_view line : Lines(text)) {
    line = TrimView(line);
    if (line.empty()) continue;
    if (line.starts_with("Error: ")) line.remove_prefix(7);
    return std::string(line.substr(0, 300));
  }
  return "";
}

// The value of "field:value" lines of nmcli's multi-line terse output; "" for a secret it hid.
std::string FieldValue(std::string_view output, std::string_view field) {
  for (std::string_view line : Lines(output)) {
    if (line.size() > field.size() && line.starts_with(field) && line[field.size()] == ':') {
      line.remove_prefix(field.size() + 1);
      return line == "<hidden>" ? "" : std::string(line);
    }
  }
  return "";
}

// "password = x, other = y" (how nmcli shows vpn.secrets): the value of key.
std::string DictValue(std::string_view dict, std::string_view key) {
  while (!dict.empty()) {
    const std::size_t end = dict.find(", ");
    const std::string_view item = dict.substr(0, end);
    const std::size_t equals = item.find(" = ");
    if (equals != std::string_view::npos && item.substr(0, equals) == key) {
      return std::string(item.substr(equals + 3));
    }
    if (end == std::string_view::npos) break;
    dict.remove_prefix(end + 2);
  }
  return "";
}

bool CanBeNamedInProfile(std::string_view name) {
  return !name.empty() && name.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

bool MatchesLoosely(std::string_view name, std::string_view wanted) {
  return SameText(TrimView(name), TrimView(wanted));
}

// A file only this user can read, holding `key`:`password` as nmcli's passwd-file reads it.
struct PasswordFile {
  std::string path;      // empty when none could be made
  bool written = false;  // the line is in it
};

PasswordFile WritePasswordFile(const std::string& key, const std::string& password) {
  const std::string folder = SecretsFolder();
  if (!folder.empty()) RemoveStaleSecrets(folder);
  std::string path =
      folder + "/" + std::string(kSecretsPrefix) + std::to_string(::getpid()) + "-XXXXXX";
  const int fd = folder.empty() ? -1 : ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return {};
  const std::string line = key + ":" + password + "\n";
  const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ::close(fd);
  return {path, written};
}

// Reads the answer to "connection show uuid U1 uuid U2 ..." for the fields uuid, type and id,
// in the order asked: false, with the line it could not read, when it is not in that form.
bool ReadConnectionDetails(std::string_view rest, const std::vector<std::string>& uuids,
                           std::vector<NmConnection>& connections, std::string& unreadable) {
  for (std::size_t i = 0; i < uuids.size(); ++i) {
    const std::string head = "connection.uuid:" + uuids[i] + "\nconnection.type:";
    if (!rest.starts_with(head)) {
      unreadable = FirstLine(rest);
      return false;
    }
    rest.remove_prefix(head.size());
    NmConnection connection;
    connection.uuid = uuids[i];
    const std::size_t type_end = rest.find('\n');
    connection.type = std::string(rest.substr(0, type_end));
    rest.remove_prefix(type_end == std::string_view::npos ? rest.size() : type_end + 1);
    if (!rest.starts_with("connection.id:")) {
      unreadable = FirstLine(rest);
      return false;
    }
    rest.remove_prefix(14);
    // The name runs to the next connection's first line, or to the end.
    std::size_t end = rest.size();
    if (i + 1 < uuids.size()) {
      end = rest.find("\nconnection.uuid:" + uuids[i + 1] + "\n");
      if (end == std::string_view::npos) {
        unreadable = FirstLine(rest);
        return false;
      }
    }
    std::string_view name = rest.substr(0, end);
    while (name.ends_with('\n')) name.remove_suffix(1);
    connection.name = std::string(name);
    rest.remove_prefix(end == rest.size() ? end : end + 1);
    connections.push_back(std::move(connection));
  }
  return true;
}

}  // namespace

void RemoveStalePasswordFiles() {
  if (const std::string folder = SecretsFolder(false); !folder.empty()) RemoveStaleSecrets(folder);
}

NetworkManagerDialer::NetworkManagerDialer(NetworkManagerPrograms programs)
    // nmcli's words and field values in one fixed language, whatever the user's locale.
    : programs_(std::move(programs)), env_(EnvironmentWith({"LC_ALL=C", "LANG=C", "LANGUAGE"})) {}

NetworkManagerDialer::~NetworkManagerDialer() {
  activation_.Terminate();
  RemovePasswordFile();
}

ProgramResult NetworkManagerDialer::Nmcli(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {programs_.nmcli};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, env_);
}

int NetworkManagerDialer::Fail(int code, std::string detail) {
  details_[code] = std::move(detail);
  return code;
}

// The code of a run of nmcli that did not succeed.
int NetworkManagerDialer::Failure(const ProgramResult& result) {
  if (result.start_error == ENOENT) return Fail(kNotInstalled, "");
  if (result.start_error != 0) {
    return Fail(kCannotStart, programs_.nmcli + ": " + std::strerror(result.start_error));
  }
  if (result.exit_code < 0) return Fail(kCannotStart, "nmcli ended by a signal");
  if (result.exit_code == kNotRunning - kNmcliFailed) return Fail(kNotRunning, "");
  // Without a system bus (a container, a server without D-Bus) nmcli cannot even ask and ends
  // with status 1: NetworkManager is not running there either.
  if (result.exit_code == 1 &&
      result.errors.find("Could not create NMClient") != std::string::npos) {
    return Fail(kNotRunning, FirstLine(result.errors));
  }
  return Fail(kNmcliFailed + result.exit_code, FirstLine(result.errors + "\n" + result.output));
}

int NetworkManagerDialer::Connections(std::vector<NmConnection>& connections) {
  connections.clear();
  // The identifiers first (their lines cannot be mistaken), then the names of those, one
  // connection after another in the order asked: a name may hold a line break or a colon.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const ProgramResult list = Nmcli({"-t", "-f", "UUID", "connection", "show"});
    if (list.start_error != 0 || list.exit_code != 0) return Failure(list);
    std::vector<std::string> uuids;
    for (const std::string_view line : Lines(list.output)) {
      if (!IsUuid(line)) return Fail(kUnreadable, "connection show: " + std::string(line));
      uuids.emplace_back(line);
    }
    if (uuids.empty()) return 0;
    std::vector<std::string> args = {"-t", "-f", "connection.uuid,connection.type,connection.id",
                                     "connection", "show"};
    for (const std::string& uuid : uuids) {
      args.push_back("uuid");
      args.push_back(uuid);
    }
    const ProgramResult details = Nmcli(args);
    // A connection deleted between the two questions: ask again.
    if (details.exit_code == 10 && attempt == 0) continue;
    if (details.start_error != 0 || details.exit_code != 0) return Failure(details);

    std::string unreadable;
    if (!ReadConnectionDetails(details.output, uuids, connections, unreadable)) {
      connections.clear();
      return Fail(kUnreadable, "connection show: " + unreadable);
    }
    return 0;
  }
  return Fail(kUnreadable, "the connections kept changing");
}

int NetworkManagerDialer::Find(const std::string& name, NmConnection& found) {
  if (TrimView(name).empty()) return Fail(kNoEntry, "");
  std::vector<NmConnection> connections;
  if (const int code = Connections(connections); code != 0) return code;
  const NmConnection* loose = nullptr;
  int loose_count = 0;
  for (const NmConnection& connection : connections) {
    if (connection.name == name) {
      found = connection;
      return 0;
    }
    if (MatchesLoosely(connection.name, name)) {
      loose = &connection;
      ++loose_count;
    }
  }
  // A profile keeps the name trimmed and its case may differ; only a single such match counts.
  if (loose_count == 1) {
    found = *loose;
    return 0;
  }
  return Fail(kNoEntry, name);
}

int NetworkManagerDialer::ActiveConnections(std::map<std::string, Active>& active) {
  active.clear();
  const ProgramResult result =
      Nmcli({"-t", "-f", "UUID,STATE,ACTIVE-PATH", "connection", "show", "--active"});
  if (result.start_error != 0 || result.exit_code != 0) return Failure(result);
  for (const std::string_view line : Lines(result.output)) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first == std::string_view::npos ? 0 : first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos ||
        !IsUuid(line.substr(0, first))) {
      return Fail(kUnreadable, "connection show --active: " + std::string(line));
    }
    active[std::string(line.substr(0, first))] = {
        std::string(line.substr(first + 1, second - first - 1)),
        std::string(line.substr(second + 1))};
  }
  return 0;
}

int NetworkManagerDialer::ListEntries(std::vector<std::string>& names) {
  names.clear();
  std::vector<NmConnection> connections;
  if (const int code = Connections(connections); code != 0) return code;
  for (const NmConnection& connection : connections) {
    const bool wanted = kLinkTypes.contains(connection.type) ||
                        (!entry_.uuid.empty() && connection.uuid == entry_.uuid);
    if (wanted && CanBeNamedInProfile(connection.name)) names.push_back(connection.name);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return UpperCase(a) < UpperCase(b); });
  return 0;
}

int NetworkManagerDialer::GetDialParams(const std::string& entry_name, DialParams& loaded) {
  loaded = DialParams{};
  loaded.entry_name = entry_name;
  NmConnection found;
  if (const int code = Find(entry_name, found); code != 0) return code;
  entry_ = found;
  loaded.entry_name = found.name;
  const DialFields* fields = FieldsOf(found.type);
  if (fields == nullptr) return 0;
  std::string wanted(fields->user);
  if (!fields->number.empty()) wanted += "," + std::string(fields->number);
  wanted += "," + std::string(fields->password);
  // Secrets are shown only to those allowed to see them; others get "<hidden>", read as none.
  const ProgramResult result =
      Nmcli({"-t", "--show-secrets", "-f", wanted, "connection", "show", "uuid", found.uuid});
  if (result.start_error != 0 || result.exit_code != 0) return Failure(result);
  loaded.user_name = FieldValue(result.output, fields->user);
  if (!fields->number.empty()) loaded.phone_number = FieldValue(result.output, fields->number);
  const std::string password = FieldValue(result.output, fields->password);
  loaded.password = found.type == "vpn" ? DictValue(password, "password") : password;
  return 0;
}

std::string NetworkManagerDialer::PhoneNumber(const std::string& entry_name) {
  DialParams loaded;
  return GetDialParams(entry_name, loaded) == 0 ? loaded.phone_number : "";
}

int NetworkManagerDialer::SetDialParams(const std::string& entry_name, const DialParams& params) {
  DialParams stored;
  if (const int code = GetDialParams(entry_name, stored); code != 0) return code;
  const DialFields* fields = FieldsOf(entry_.type);
  // An empty user name leaves the connection's own; an unchanged one is not written again.
  if (fields == nullptr || params.user_name.empty() || params.user_name == stored.user_name) {
    return 0;
  }
  const ProgramResult result = Nmcli(
      {"connection", "modify", "uuid", entry_.uuid, std::string(fields->user), params.user_name});
  return result.start_error == 0 && result.exit_code == 0 ? 0 : Failure(result);
}

void NetworkManagerDialer::RemovePasswordFile() {
  if (password_file_.empty()) return;
  ::unlink(password_file_.c_str());
  password_file_.clear();
}

int NetworkManagerDialer::Dial(const DialRequest& request) {
  HangUp();
  last_error_ = 0;
  found_up_ = false;
  ours_ = false;
  active_path_.clear();
  NmConnection found;
  if (const int code = Find(request.entry_name, found); code != 0) return code;
  entry_ = found;

  std::map<std::string, Active> active;
  if (const int code = ActiveConnections(active); code != 0) return code;
  if (const auto it = active.find(found.uuid);
      it != active.end() && it->second.state != "deactivating") {
    // Up, or coming up, without this program: it is left as it is after the run. Unless a run
    // of this program brought it up and was killed before it took it down: then it is ours.
    if (LeftUpByAKilledRun(found.uuid)) {
      ours_ = true;
      NoteLinkOurs(found.uuid);
    } else {
      found_up_ = true;
    }
    dialing_ = true;
    active_path_ = it->second.path;
    state_ = it->second.state == "activated" ? DialState::kConnected : DialState::kPending;
    return 0;
  }

  std::vector<std::string> argv = {programs_.nmcli, "connection", "up", "uuid", found.uuid};
  // The password goes to NetworkManager in a file only this user can read, never as an
  // argument that every user can see.
  const DialFields* fields = FieldsOf(found.type);
  if (fields != nullptr && !request.password.empty() &&
      request.password.find_first_of("\r\n") == std::string::npos) {
    const std::string key =
        found.type == "vpn" ? "vpn.secrets.password" : std::string(fields->password);
    const PasswordFile file = WritePasswordFile(key, request.password);
    if (!file.path.empty()) password_file_ = file.path;
    if (file.written) {
      argv.push_back("passwd-file");
      argv.push_back(password_file_);
    }
  }
  const int error = activation_.Start(argv, env_);
  if (error != 0) {
    RemovePasswordFile();
    return error == ENOENT ? Fail(kNotInstalled, "")
                           : Fail(kCannotStart, programs_.nmcli + ": " + std::strerror(error));
  }
  dialing_ = true;
  ours_ = true;
  NoteLinkOurs(found.uuid);
  state_ = DialState::kPending;
  return 0;
}

DialState NetworkManagerDialer::State() {
  if (!dialing_) return state_;
  if (activation_.Running()) {
    if (!activation_.Poll()) return DialState::kPending;
    RemovePasswordFile();
    if (activation_.exit_code() == 0) {
      state_ = DialState::kConnected;
      std::map<std::string, Active> active;
      if (ActiveConnections(active) == 0 && active.contains(entry_.uuid)) {
        active_path_ = active[entry_.uuid].path;
      }
      return state_;
    }
    // Refused or failed on the way: what NetworkManager may still be trying is stopped.
    last_error_ =
        Fail(kNmcliFailed + std::max(activation_.exit_code(), 1), FirstLine(activation_.output()));
    const int code = Deactivate("uuid", entry_.uuid);
    state_ = code == 0 || code == kNmcliFailed + 10 ? DialState::kEnded : DialState::kHangUpFailed;
    if (state_ == DialState::kEnded) ForgetLink(entry_.uuid);
    dialing_ = false;
    ours_ = false;
    return state_;
  }
  // Up (or coming up): is it still?
  std::map<std::string, Active> active;
  if (ActiveConnections(active) != 0) return state_;
  const auto it = active.find(entry_.uuid);
  const bool same = it != active.end() && (active_path_.empty() || it->second.path == active_path_);
  if (!same || it->second.state == "deactivating" || it->second.state == "deactivated") {
    state_ = DialState::kEnded;
  } else if (it->second.state == "activated") {
    state_ = DialState::kConnected;
  }
  return state_;
}

int NetworkManagerDialer::Deactivate(const std::string& selector, const std::string& value) {
  const ProgramResult result = Nmcli({"connection", "down", selector, value});
  return result.start_error == 0 && result.exit_code == 0 ? 0 : Failure(result);
}

void NetworkManagerDialer::HangUp() {
  if (!dialing_) return;
  if (activation_.Running()) {
    // Cancelled while coming up: stop waiting, and stop NetworkManager's attempt too.
    activation_.Terminate();
    RemovePasswordFile();
    Deactivate("uuid", entry_.uuid);
    state_ = DialState::kEnded;
  } else if (ours_) {
    // Only the activation this dialer started: one that replaced it is someone else's.
    const int code =
        active_path_.empty() ? Deactivate("uuid", entry_.uuid) : Deactivate("apath", active_path_);
    // Gone already (dropped during the run) counts as hung up.
    state_ = code == 0 || code == kNmcliFailed + 10 ? DialState::kEnded : DialState::kHangUpFailed;
  }
  if (ours_ && state_ != DialState::kHangUpFailed) ForgetLink(entry_.uuid);
  dialing_ = false;
  ours_ = false;
}

std::string NetworkManagerDialer::ProgressText() {
  if (entry_.name.empty()) return "";
  if (dialing_ && state_ == DialState::kPending) return "Connecting to " + entry_.name + "...";
  if (dialing_ && state_ == DialState::kConnected) {
    return found_up_ ? entry_.name + " was already up" : "Connected to " + entry_.name;
  }
  if (last_error_ != 0) return ErrorText(last_error_);
  return "";
}

int NetworkManagerDialer::CreateEntry() {
  const ProgramResult result = RunProgram({programs_.editor, "--create"}, EnvironmentWith({}));
  if (result.start_error == ENOENT) return Fail(kNoEditor, "");
  if (result.start_error != 0) return Fail(kCannotStart, std::strerror(result.start_error));
  return result.exit_code == 0 ? 0 : Fail(kEditorFailed, FirstLine(result.errors));
}

int NetworkManagerDialer::EditEntry(const std::string& entry_name) {
  NmConnection found;
  if (const int code = Find(entry_name, found); code != 0) return code;
  const ProgramResult result =
      RunProgram({programs_.editor, "--edit", found.uuid}, EnvironmentWith({}));
  if (result.start_error == ENOENT) return Fail(kNoEditor, "");
  if (result.start_error != 0) return Fail(kCannotStart, std::strerror(result.start_error));
  return result.exit_code == 0 ? 0 : Fail(kEditorFailed, FirstLine(result.errors));
}

std::string NetworkManagerDialer::ErrorText(int code) {
  const auto it = details_.find(code);
  const std::string detail = it != details_.end() ? it->second : "";
  switch (code) {
    case 0:
      return "Success";
    case kNoEntry:
      return detail.empty() ? "No NetworkManager connection is chosen."
                            : "There is no NetworkManager connection named \"" + detail + "\".";
    case kNotInstalled:
      return "NetworkManager is not installed (there is no nmcli).";
    case kNotRunning:
      return detail.empty() ? "NetworkManager is not running."
                            : "NetworkManager is not running (" + detail + ").";
    case kUnreadable:
      return "nmcli answered in a form this program does not understand (" + detail + ").";
    case kNoEditor:
      return "There is no connection editor here (nm-connection-editor, package "
             "network-manager-gnome): create or change the connection with nmtui or with "
             "nmcli connection add / modify.";
    case kCannotStart:
      return "A NetworkManager program could not be started: " + detail;
    case kEditorFailed:
      return "The connection editor failed" + (detail.empty() ? "." : ": " + detail);
    default:
      break;
  }
  if (code > kNmcliFailed && code < kNotInstalled) {
    if (!detail.empty()) return "NetworkManager: " + detail;
    switch (code - kNmcliFailed) {
      case 3:
        return "NetworkManager: the connection did not come up in time.";
      case 4:
        return "NetworkManager: the connection could not be activated.";
      case 5:
        return "NetworkManager: the connection could not be deactivated.";
      case 10:
        return "NetworkManager: there is no such connection.";
      default:
        return "NetworkManager: nmcli failed with status " + std::to_string(code - kNmcliFailed) +
               ".";
    }
  }
  return "Dial-up error " + std::to_string(code) + ".";
}

}  // namespace remoteccm
