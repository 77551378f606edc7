// The dialer on Windows: the Remote Access Service of RASAPI32.DLL, loaded on first use. A dial
// is asynchronous: RAS reports its states to a callback on a thread of its own, and State()
// reads what the callback recorded. Codes are RAS's own, their texts RasGetErrorStringA's.
#include <windows.h>
// clang-format off
#include <ras.h>
#include <raserror.h>
// clang-format on

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialup/system_dialer.h"

namespace remoteccm {
namespace {

// Codes of this dialer's own, beyond RAS's range.
constexpr int kRasMissing = 20001;  // RASAPI32.DLL cannot be loaded
constexpr int kNoPhoneBookEntries = 20002;
constexpr int kFunctionMissing = 20003;  // the DLL lacks a function ("Function not Supported")

struct RasApi {
  decltype(&::RasDialA) dial = nullptr;
  decltype(&::RasHangUpA) hang_up = nullptr;
  decltype(&::RasGetConnectStatusA) connect_status = nullptr;
  decltype(&::RasEnumConnectionsA) enum_connections = nullptr;
  decltype(&::RasEnumEntriesA) enum_entries = nullptr;
  decltype(&::RasGetEntryDialParamsA) get_params = nullptr;
  decltype(&::RasSetEntryDialParamsA) set_params = nullptr;
  decltype(&::RasGetErrorStringA) error_string = nullptr;
  decltype(&::RasCreatePhonebookEntryA) create_entry = nullptr;
  decltype(&::RasEditPhonebookEntryA) edit_entry = nullptr;
};

template <typename Function>
void Find(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// The DLL, loaded once and kept; null when the system has none.
const RasApi* Ras() {
  static const std::unique_ptr<RasApi> api = []() -> std::unique_ptr<RasApi> {
    const HMODULE module = ::LoadLibraryW(L"rasapi32.dll");
    if (module == nullptr) return nullptr;
    auto found = std::make_unique<RasApi>();
    Find(module, "RasDialA", found->dial);
    Find(module, "RasHangUpA", found->hang_up);
    Find(module, "RasGetConnectStatusA", found->connect_status);
    Find(module, "RasEnumConnectionsA", found->enum_connections);
    Find(module, "RasEnumEntriesA", found->enum_entries);
    Find(module, "RasGetEntryDialParamsA", found->get_params);
    Find(module, "RasSetEntryDialParamsA", found->set_params);
    Find(module, "RasGetErrorStringA", found->error_string);
    Find(module, "RasCreatePhonebookEntryA", found->create_entry);
    Find(module, "RasEditPhonebookEntryA", found->edit_entry);
    return found;
  }();
  return api.get();
}

template <std::size_t N>
void CopyInto(char (&field)[N], const std::string& text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

// What the callback of the dial in progress records; RAS calls it on its own thread.
std::atomic<int> g_dial_state{static_cast<int>(DialState::kEnded)};
std::atomic<DWORD> g_dial_error{0};
std::atomic<int> g_connect_state{0};

VOID WINAPI OnDialEvent(UINT /*message*/, RASCONNSTATE state, DWORD error) {
  g_connect_state = static_cast<int>(state);
  if (error != 0) {
    g_dial_error = error;
    g_dial_state = static_cast<int>(DialState::kEnded);
  } else if (state == RASCS_Connected) {
    g_dial_state = static_cast<int>(DialState::kConnected);
  } else if (state == RASCS_Disconnected) {
    g_dial_state = static_cast<int>(DialState::kEnded);
  }
}

class RasDialer : public Dialer {
 public:
  ~RasDialer() override = default;

  std::string PhoneNumber(const std::string& entry_name) override {
    DialParams params;
    return GetDialParams(entry_name, params) == 0 ? params.phone_number : "";
  }

  int Dial(const DialRequest& request) override {
    HangUp();
    last_error_ = 0;
    found_up_ = false;
    const RasApi* ras = Ras();
    if (ras == nullptr) return kRasMissing;
    if (ras->dial == nullptr || ras->hang_up == nullptr) return kFunctionMissing;
    if (request.entry_name.empty()) return kNoEntry;
    if (const int code = CheckListed(request.entry_name); code != 0) return code;
    if (HRASCONN up = FindConnection(request.entry_name); up != nullptr) {
      found_up_ = true;
      connection_ = up;
      ours_ = false;
      g_dial_state = static_cast<int>(DialState::kConnected);
      return 0;
    }
    RASDIALPARAMSA params{};
    params.dwSize = sizeof params;
    CopyInto(params.szEntryName, request.entry_name);
    CopyInto(params.szUserName, request.user_name);
    CopyInto(params.szPassword, request.password);
    CopyInto(params.szDomain, request.domain);
    g_dial_error = 0;
    g_dial_state = static_cast<int>(DialState::kPending);
    HRASCONN connection = nullptr;
    const DWORD code = ras->dial(nullptr, nullptr, &params, 0,
                                 reinterpret_cast<LPVOID>(&OnDialEvent), &connection);
    connection_ = connection;
    ours_ = true;
    if (code != 0) {
      HangUp();
      return static_cast<int>(code);
    }
    return 0;
  }

  DialState State() override {
    const auto state = static_cast<DialState>(g_dial_state.load());
    if (state == DialState::kEnded && g_dial_error != 0 && connection_ != nullptr) {
      last_error_ = static_cast<int>(g_dial_error.load());
      HangUp();
    }
    if (state != DialState::kConnected || connection_ == nullptr) return state;
    // Connected: whether the link is still up.
    const RasApi* ras = Ras();
    RASCONNSTATUSA status{};
    status.dwSize = sizeof status;
    if (ras->connect_status == nullptr || ras->connect_status(connection_, &status) != 0 ||
        status.rasconnstate == RASCS_Disconnected) {
      g_dial_state = static_cast<int>(DialState::kEnded);
      return DialState::kEnded;
    }
    return DialState::kConnected;
  }

  void HangUp() override {
    if (connection_ == nullptr) return;
    const HRASCONN connection = connection_;
    connection_ = nullptr;
    g_dial_state = static_cast<int>(DialState::kEnded);
    if (!ours_) return;  // a link that was up before the dial stays up
    const RasApi* ras = Ras();
    ras->hang_up(connection);
    // RAS drops the connection's handle a moment after the call returns; a new dial before
    // then fails. The wait is bounded: a system that never drops it does not hold the run.
    RASCONNSTATUSA status{};
    status.dwSize = sizeof status;
    for (int i = 0; i < 300 && ras->connect_status != nullptr &&
                    ras->connect_status(connection, &status) != ERROR_INVALID_HANDLE;
         ++i) {
      ::Sleep(10);
    }
  }

  std::string ErrorText(int code) override {
    switch (code) {
      case 0:
        return "Success";
      case kRasMissing:
        return "Dial-up networking is not available on this system (RASAPI32.DLL cannot be "
               "loaded).";
      case kNoPhoneBookEntries:
        return "There are no dial-up entries in the Windows phone book.";
      case kFunctionMissing:
        return "Function not Supported";
      case kNoEntry:
        if (!missing_entry_.empty()) {
          return "There is no dial-up entry named \"" + missing_entry_ +
                 "\" in the Windows phone book.";
        }
        break;
      default:
        break;
    }
    const RasApi* ras = Ras();
    if (ras != nullptr && ras->error_string != nullptr) {
      char text[512] = {};
      if (ras->error_string(static_cast<UINT>(code), text, sizeof text) == 0 && text[0] != '\0') {
        return text;
      }
    }
    if (code == kNoEntry) return "The phone book entry could not be found.";
    return "Dial-up error " + std::to_string(code) + ".";
  }

  // An empty phone book is told as such, as a system without dial-up networking is: no entry
  // can be chosen either way.
  int ListEntries(std::vector<std::string>& names) override {
    names.clear();
    const RasApi* ras = Ras();
    if (ras == nullptr) return kRasMissing;
    if (ras->enum_entries == nullptr) return kFunctionMissing;
    std::vector<RASENTRYNAMEA> entries(kMostEntries);
    entries[0].dwSize = sizeof(RASENTRYNAMEA);
    DWORD bytes = static_cast<DWORD>(entries.size() * sizeof(RASENTRYNAMEA));
    DWORD count = 0;
    const DWORD code = ras->enum_entries(nullptr, nullptr, entries.data(), &bytes, &count);
    if (code != 0 && code != ERROR_BUFFER_TOO_SMALL) return static_cast<int>(code);
    for (DWORD i = 0; i < count && i < entries.size(); ++i) {
      names.emplace_back(entries[i].szEntryName);
    }
    return names.empty() ? kNoPhoneBookEntries : 0;
  }

  int GetDialParams(const std::string& entry_name, DialParams& loaded) override {
    loaded = DialParams{};
    loaded.entry_name = entry_name;
    if (entry_name.empty()) return kNoEntry;
    const RasApi* ras = Ras();
    if (ras == nullptr) return kRasMissing;
    if (ras->get_params == nullptr) return kFunctionMissing;
    RASDIALPARAMSA params{};
    params.dwSize = sizeof params;
    CopyInto(params.szEntryName, entry_name);
    BOOL has_password = FALSE;
    if (const DWORD code = ras->get_params(nullptr, &params, &has_password); code != 0) {
      return static_cast<int>(code);
    }
    loaded.phone_number = params.szPhoneNumber;
    loaded.callback_number = params.szCallbackNumber;
    loaded.user_name = params.szUserName;
    loaded.password = has_password ? params.szPassword : "";
    loaded.domain = params.szDomain;
    loaded.entry_name = params.szEntryName;
    return 0;
  }

  int SetDialParams(const std::string& entry_name, const DialParams& given) override {
    if (entry_name.empty()) return kNoEntry;
    const RasApi* ras = Ras();
    if (ras == nullptr) return kRasMissing;
    if (ras->set_params == nullptr) return kFunctionMissing;
    RASDIALPARAMSA params{};
    params.dwSize = sizeof params;
    CopyInto(params.szEntryName, entry_name);
    CopyInto(params.szPhoneNumber, given.phone_number);
    CopyInto(params.szCallbackNumber, given.callback_number);
    CopyInto(params.szUserName, given.user_name);
    CopyInto(params.szPassword, given.password);
    CopyInto(params.szDomain, given.domain);
    return static_cast<int>(ras->set_params(nullptr, &params, FALSE));
  }

  int CreateEntry() override {
    const RasApi* ras = Ras();
    if (ras == nullptr) return kRasMissing;
    if (ras->create_entry == nullptr) return kFunctionMissing;
    return static_cast<int>(ras->create_entry(nullptr, nullptr));
  }

  int EditEntry(const std::string& entry_name) override {
    if (entry_name.empty()) return kNoEntry;
    const RasApi* ras = Ras();
    if (ras == nullptr) return kRasMissing;
    if (ras->edit_entry == nullptr) return kFunctionMissing;
    return static_cast<int>(ras->edit_entry(nullptr, nullptr, entry_name.c_str()));
  }

  std::string ProgressText() override {
    return static_cast<DialState>(g_dial_state.load()) == DialState::kPending
               ? "Dialing (state " + std::to_string(g_connect_state.load()) + ")"
               : "";
  }

  int LastError() override { return last_error_; }
  bool FoundAlreadyUp() override { return found_up_; }

 private:
  static constexpr std::size_t kMostEntries = 65;

  // 0 when the phone book lists the entry, else the code that says why it cannot be dialled.
  int CheckListed(const std::string& entry_name) {
    std::vector<std::string> names;
    const int code = ListEntries(names);
    if (code != 0) return code;
    for (const std::string& name : names) {
      if (::lstrcmpiA(name.c_str(), entry_name.c_str()) == 0) return 0;
    }
    missing_entry_ = entry_name;
    return kNoEntry;
  }

  // The open connection of the entry, null when it is not up.
  static HRASCONN FindConnection(const std::string& entry_name) {
    const RasApi* ras = Ras();
    if (ras->enum_connections == nullptr) return nullptr;
    std::vector<RASCONNA> connections(16);
    connections[0].dwSize = sizeof(RASCONNA);
    DWORD bytes = static_cast<DWORD>(connections.size() * sizeof(RASCONNA));
    DWORD count = 0;
    if (ras->enum_connections(connections.data(), &bytes, &count) != 0) return nullptr;
    for (DWORD i = 0; i < count && i < connections.size(); ++i) {
      if (::lstrcmpiA(connections[i].szEntryName, entry_name.c_str()) == 0) {
        return connections[i].hrasconn;
      }
    }
    return nullptr;
  }

  HRASCONN connection_ = nullptr;
  bool ours_ = false;
  bool found_up_ = false;
  int last_error_ = 0;
  std::string missing_entry_;
};

}  // namespace

std::unique_ptr<Dialer> MakeSystemDialer() { return std::make_unique<RasDialer>(); }

// RAS is handed its password in memory: a killed dial leaves nothing behind.
void RemoveDialLeftovers() {}

}  // namespace remoteccm
