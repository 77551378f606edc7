#include "profile/profile_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>
#include <utility>

#include "companion/default_destination.h"
#include "platform/home/program_home.h"
#include "timezone/local_zone.h"
#include "util/ini_file.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kNewRecDateLookBack = 31536000.0;  // 365 days of 86400 seconds

const ProfileKey& Key(std::string_view name) { return *FindProfileKey(name); }

// A whole number written as digits only, within the key's range; anything else (absent,
// negative, too large, not a number) reads as the key's default.
int StrictWhole(std::string_view text, const ProfileKey& key) {
  const std::string_view digits = TrimView(text);
  int value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  const bool valid = !digits.empty() && std::isdigit(static_cast<unsigned char>(digits[0])) &&
                     error == std::errc() && end == digits.data() + digits.size() &&
                     value >= key.min && value <= key.max;
  return valid ? value : ParseWhole(key.fallback);
}

// The keys of a profile file, all read from one reading of it.
class ProfileReader {
 public:
  explicit ProfileReader(const std::filesystem::path& file) : profile_(IniContent::Read(file)) {}

  std::string Text(std::string_view key) const { return profile_.Value(kProfileSection, key); }

  // The key's fallback when the stored value is blank after trimming.
  std::string TextOrFallback(std::string_view key) const {
    std::string value = Text(key);
    if (Trim(value).empty()) return std::string(Key(key).fallback);
    return value;
  }

  bool Flag(std::string_view key) const {
    const std::string value = UpperCase(Text(key));
    if (Key(key).fallback == "Y") return value != "N";
    return value == "Y";
  }

  // ParseWhole of the value (the key's fallback text when empty), kept within its range.
  int Whole(std::string_view key) const {
    const ProfileKey& entry = Key(key);
    std::string value = Text(key);
    if (value.empty()) value = std::string(entry.fallback);
    const std::int32_t number = ParseWhole(value);
    if (entry.min > entry.max) return number;
    return std::clamp(number, entry.min, entry.max);
  }

  template <typename Enum, std::size_t N>
  Enum Choice(std::string_view key, const std::array<std::string_view, N>& items) const {
    const std::string value = Text(key);
    std::string_view match = Key(key).fallback;
    for (std::string_view item : items) {
      if (SameText(item, value)) match = item;
    }
    const auto at = std::find(items.begin(), items.end(), match);
    return static_cast<Enum>(at - items.begin());
  }

  std::vector<std::string> LineList(std::string_view stem) const {
    return ReadLineList(profile_, stem);
  }

 private:
  IniContent profile_;
};

// A stored line may not break the file's own line structure: CR, LF and CR LF split it.
std::vector<std::string> SplitLines(const std::vector<std::string>& lines) {
  std::vector<std::string> result;
  for (const std::string& line : lines) {
    std::size_t start = 0;
    while (true) {
      const std::size_t brk = line.find_first_of("\r\n", start);
      if (brk == std::string::npos) {
        result.push_back(line.substr(start));
        break;
      }
      result.push_back(line.substr(start, brk - start));
      start = brk + 1;
      if (line[brk] == '\r' && start < line.size() && line[start] == '\n') ++start;
    }
  }
  return result;
}

std::string FlagText(bool flag) { return flag ? "Y" : "N"; }

}  // namespace

ProfileEnvironment SystemProfileEnvironment(const std::vector<TimeZoneEntry>* zones,
                                            std::string entity_name) {
  ProfileEnvironment env;
  env.program_home = ProgramHome();
  env.zones = zones;
  env.computer_rule = ComputerZoneRule();
  env.registry = TRegAccess(RegistryStorePath());
  env.entity_name = std::move(entity_name);
  return env;
}

std::time_t CurrentMoment(const ProfileEnvironment& env) {
  return static_cast<std::time_t>((env.clock != nullptr ? *env.clock : TheSystemClock()).Now());
}

double ComputerToday(const ProfileEnvironment& env) {
  const std::time_t now = CurrentMoment(env);
  const double bias_seconds = 60.0 * CurrentBias(env.computer_rule, now);
  return std::floor(kUnixEpochDays + (static_cast<double>(now) - bias_seconds) / kSecondsPerDay);
}

std::string WithProfileExtension(std::string_view path) {
  const std::size_t name_start = path.find_last_of(kFolderSeparators) == std::string_view::npos
                                     ? 0
                                     : path.find_last_of(kFolderSeparators) + 1;
  std::string result(path);
  const std::size_t dot = result.find_last_of('.');
  if (dot != std::string::npos && dot >= name_start) result.erase(dot);
  result += kProfileExtension;
  return result;
}

std::string ProfilePathFor(std::string_view name_or_path, const std::filesystem::path& home) {
  std::string path(name_or_path);
  if (path.find_first_of(kFolderSeparators) == std::string::npos) {
    path = AddTrailingBackslash(home.string()) + path;
  }
  return WithProfileExtension(path);
}

std::string ProfileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of(kFolderSeparators);
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return Trim(name);
}

bool ProfileFileExists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

ProfileList ListProfiles(const std::filesystem::path& folder, std::string_view select_name) {
  ProfileList list;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    const std::string file_name = it->path().filename().string();
    if (file_name.size() < kProfileExtension.size() || !file_name.ends_with(kProfileExtension)) {
      continue;
    }
    list.names.push_back(file_name.substr(0, file_name.size() - kProfileExtension.size()));
  }
  std::sort(list.names.begin(), list.names.end(), [](const std::string& a, const std::string& b) {
    const std::string upper_a = UpperCase(a);
    const std::string upper_b = UpperCase(b);
    return upper_a != upper_b ? upper_a < upper_b : a < b;
  });
  if (!select_name.empty()) {
    for (std::size_t i = 0; i < list.names.size(); ++i) {
      if (SameText(list.names[i], select_name)) {
        list.selected = static_cast<int>(i);
        break;
      }
    }
  }
  return list;
}

std::vector<std::string> ReadLineList(const IniContent& profile, std::string_view stem) {
  std::vector<std::string> lines;
  for (int i = 0; i <= kLineListMaxIndex; ++i) {
    std::string value = profile.Value(kProfileSection, std::string(stem) + std::to_string(i));
    if (value == kLineListEnd) break;
    if (!value.empty()) lines.push_back(std::move(value));
  }
  return lines;
}

namespace {

// The dialog's login, password and server (the main window's stand-ins are derived from them by
// MainWindowLogin), the profile name and the destination file.
void LoadLoginAndDestination(const ProfileReader& read, const ProfileEnvironment& env,
                             ProfileSettings& s) {
  s.login = read.Text("Login");
  s.password = read.Text("Password");
  s.server_name = read.Text("ServerName");
  s.profile_name = Trim(ProfileNameOf(s.profile_path));
  s.destination_file = read.Text("DestinationFile");
  if (Trim(s.destination_file).empty()) {
    s.destination_file =
        DefaultDestinationFile(env.registry, env.entity_name, env.program_home.string());
  }
}

// Where the CDRs are: the connection, the database, the table and its date column.
void LoadDatabase(const ProfileReader& read, ProfileSettings& s) {
  s.sql_connection_string = read.Text("SQLConnectionString");
  s.sql_date_time_fld_name = read.TextOrFallback("SQLDateTimeFldName");
  s.sql_auth_option = read.Text("SQLAuthOption");
  s.sql_database_name = read.Text("SQLDatabaseName");
  s.sql_table_name = read.Text("SQLTableName");
  s.sql_odbc_alias = read.Text("SQLODBCAlias");
  if (s.sql_database_name.empty()) s.sql_database_name = Key("SQLDatabaseName").fallback;
  if (s.sql_table_name.empty()) s.sql_table_name = Key("SQLTableName").fallback;
}

// The time zone comes before every time value: the conversions depend on it.
void LoadTimeZone(const ProfileReader& read, const ProfileEnvironment& env, ProfileSettings& s) {
  const std::int32_t option = ParseWhole(read.Text("SQLTimeZoneOption"));
  s.time_zone_option = option == 2   ? TimeZoneOption::kSelected
                       : option == 3 ? TimeZoneOption::kManual
                                     : TimeZoneOption::kComputer;
  if (env.zones != nullptr) {
    const int zone = FindTimeZone(*env.zones, read.Text("SQLTimeZoneName"));
    if (zone >= 0 && static_cast<std::size_t>(zone) < env.zones->size()) {
      const TimeZoneEntry& entry = (*env.zones)[static_cast<std::size_t>(zone)];
      s.time_zone_name = entry.display_name;
      s.time_zone_rule = entry.rule;
    }
  }
  s.time_zone_offset = read.Whole("SQLTimeZoneOffset");
  const std::time_t now = CurrentMoment(env);
  if (s.time_zone_offset > 24) {
    s.time_zone_offset = -(CurrentBias(env.computer_rule, now) / 60);
  }
}

// What the passes select and do: the statements, the mode, deletion and polling, the dial-up.
void LoadRetrieval(const ProfileReader& read, ProfileSettings& s) {
  s.sql_display_records = read.Flag("SQLDisplayRecords");
  s.connect_sql = read.LineList("ConnectSQL");
  s.disconnect_sql = read.LineList("DisconnectSQL");
  s.delete_recs = read.Flag("DeleteRecs");
  s.poll_again = read.Flag("PollAgain");
  s.wait_before_polling_again = read.Whole("WaitBeforePollingAgain");
  s.late_arrival_minutes = StrictWhole(read.Text("LateArrivalMinutes"), Key("LateArrivalMinutes"));
  s.use_dialup = read.Flag("UseDialup");
  s.phonebook_entry = read.Text("PhonebookEntry");
  s.log_record_lines = read.Flag("LogRecordLines");
  s.connect_sql_mode = read.Choice<RetrievalMode>("ConnectSQLMode", kRetrievalModeItems);
}

// The start point and the date range with their steps, in the profile's time zone.
void LoadTimes(const ProfileReader& read, const ProfileEnvironment& env, ProfileSettings& s) {
  const TimeZoneSettings zone = ProfileTimeZone(s, env.computer_rule);
  const double today = ComputerToday(env);
  s.sql_new_rec_date = ParseDecimal(read.Text(kStartKey));
  if (s.sql_new_rec_date == 0) {
    s.sql_new_rec_date = LocalToCdrSeconds(zone, today) - kNewRecDateLookBack;
  }
  s.new_rec_date_local = CdrSecondsToLocal(zone, s.sql_new_rec_date);

  s.new_rec_incr_value = read.Whole("SQLNewRecIncrValue");
  s.new_rec_incr_mode = read.Choice<IncrementMode>("SQLNewRecIncrMode", kIncrementModeItems);

  const std::int32_t from = ParseWhole(read.Text("SQLFromDateRange"));
  s.from_date_range = from != 0 ? CdrSecondsToLocal(zone, from) : today - 1;
  const std::int32_t to = ParseWhole(read.Text("SQLToDateRange"));
  s.to_date_range = to != 0 ? CdrSecondsToLocal(zone, to) : today;

  s.date_range_incr_value = read.Whole("SQLDateRangeIncrValue");
  s.date_range_incr_mode = read.Choice<IncrementMode>("SQLDateRangeIncrMode", kIncrementModeItems);
}

// The backup and overwriting of the destination, the dial-up login, the folder of CDR files.
void LoadOutputAndSources(const ProfileReader& read, ProfileSettings& s) {
  s.sql_backup = read.Flag("SQLBackup");
  s.overwrite = read.Flag("Overwrite");
  s.dial_user_name = read.Text("DialUserName");
  s.dial_password = read.Text("DialPassword");
  s.dial_domain = read.Text("DialDomain");
  s.cdr_file_folder = read.Text("CdrFileFolder");
  s.cdr_file_settle_seconds =
      StrictWhole(read.Text("CdrFileSettleSeconds"), Key("CdrFileSettleSeconds"));
  s.cdr_file_keep_days = StrictWhole(read.Text("CdrFileKeepDays"), Key("CdrFileKeepDays"));
}

}  // namespace

ProfileSettings LoadProfile(const std::string& profile_path, const ProfileEnvironment& env) {
  ProfileSettings s;
  const ProfileReader read(profile_path);
  s.profile_path = profile_path;
  LoadLoginAndDestination(read, env, s);
  LoadDatabase(read, s);
  LoadTimeZone(read, env, s);
  LoadRetrieval(read, s);
  LoadTimes(read, env, s);
  LoadOutputAndSources(read, s);
  return s;
}

bool OpenProfile(ProfileSettings& settings, const std::string& profile_path,
                 const ProfileEnvironment& env) {
  const std::string path = ProfilePathFor(profile_path, env.program_home);
  if (!ProfileFileExists(path)) {
    settings.profile_path = path;
    return false;
  }
  settings = LoadProfile(path, env);
  return true;
}

std::vector<std::pair<std::string, std::string>> SavedProfileValues(const ProfileSettings& settings,
                                                                    const ProfileEnvironment& env) {
  const TimeZoneSettings zone = ProfileTimeZone(settings, env.computer_rule);
  std::vector<std::pair<std::string, std::string>> values;
  for (const ProfileKey& key : ProfileKeys()) {
    if (!key.saved || (key.file_source && settings.cdr_file_folder.empty())) continue;
    std::string value;
    std::visit(
        [&](auto member) {
          const auto& field = settings.*member;
          using Field = std::decay_t<decltype(field)>;
          if constexpr (std::is_same_v<Field, std::string>) {
            value = field;
          } else if constexpr (std::is_same_v<Field, bool>) {
            value = FlagText(field);
          } else if constexpr (std::is_same_v<Field, int>) {
            value = FormatWhole(field);
          } else if constexpr (std::is_same_v<Field, double>) {
            value = FormatWhole(LocalToCdrSeconds(zone, field));
          } else if constexpr (std::is_same_v<Field, RetrievalMode>) {
            value = RetrievalModeText(field);
          } else if constexpr (std::is_same_v<Field, IncrementMode>) {
            value = IncrementModeText(field);
          } else if constexpr (std::is_same_v<Field, TimeZoneOption>) {
            value = FormatWhole(static_cast<int>(field));
          } else {
            const std::vector<std::string> lines = SplitLines(field);
            for (std::size_t i = 0; i < lines.size(); ++i) {
              values.emplace_back(std::string(key.name) + std::to_string(i), lines[i]);
            }
            values.emplace_back(std::string(key.name) + std::to_string(lines.size()), kLineListEnd);
          }
        },
        key.field);
    if (key.kind == KeyKind::kLineList) continue;
    if (key.name == "PhonebookEntry") value += ' ';
    values.emplace_back(key.name, std::move(value));
  }
  return values;
}

void SaveProfile(ProfileSettings& settings, const ProfileEnvironment& env) {
  settings.profile_path = ProfilePathFor(Trim(settings.profile_name), env.program_home);
  IniFileEdit edit(settings.profile_path);
  for (const auto& [key, value] : SavedProfileValues(settings, env)) {
    edit.Write(kProfileSection, key, value);
  }
  // A folder cleared in the dialog: the profile goes back to its database.
  if (settings.cdr_file_folder.empty() &&
      !ReadProfileValue(settings.profile_path, kProfileSection, "CdrFileFolder").empty()) {
    edit.Write(kProfileSection, "CdrFileFolder", "");
  }
  edit.Commit();
}

}  // namespace remoteccm
