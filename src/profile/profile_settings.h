// ProfileSettings: one profile held in memory, every key of the profile file typed, plus the
// main window's fields that come with it; and the key table that load, save and --print share.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "timezone/time_conversion.h"
#include "timezone/zone_rule.h"

namespace remoteccm {

// The items of RetrieveListBox1, stored by their text as ConnectSQLMode.
enum class RetrievalMode { kNoRecords = 0, kAllRecords, kNewRecordsOnly, kByDate, kBySqlQuery };
inline constexpr std::array<std::string_view, 5> kRetrievalModeItems = {
    "No Records", "All Records", "New Records Only", "By Date", "By SQL Query"};

// The items of the increment combos (SQLNewRecIncrMode, SQLDateRangeIncrMode).
enum class IncrementMode { kMinutes = 0, kHours, kDays };
inline constexpr std::array<std::string_view, 3> kIncrementModeItems = {"minute(s)", "hour(s)",
                                                                        "day(s)"};

inline constexpr std::string_view kDefaultDatabaseName = "CDR";
inline constexpr std::string_view kDefaultTableName = "CallDetailRecord";
inline constexpr std::string_view kDefaultDateTimeFieldName = "dateTimeDisconnect";

// What the main window's three edits show in place of an empty ServerName.
inline constexpr std::string_view kStandInLogin = "CiscoCCMCDR";
inline constexpr std::string_view kStandInPassword = "kwelp";
inline constexpr std::string_view kDefaultServerName = "callmanager.example.com";

// Local date/time values are days since 1899-12-30 (the pickers' values); time values in the
// file are CDR seconds. Defaults are those of a profile without a file, except the ones that
// depend on the moment of loading (dates, destination file), which LoadProfile fills in.
struct ProfileSettings {
  // The main window's own fields.
  std::string profile_path;     // full path of the profile file ("/" separated)
  std::string profile_name;     // the dialog's ProfileName1: the file name without extension
  double sql_new_rec_date = 0;  // start of the next "New Records Only" selection, CDR seconds
  std::string sql_date_time_fld_name{kDefaultDateTimeFieldName};
  bool sql_display_records = false;

  // Keys in the order SaveProfile writes them.
  std::string login;
  std::string password;
  std::string server_name;
  std::string destination_file;
  RetrievalMode connect_sql_mode = RetrievalMode::kNoRecords;
  int new_rec_incr_value = 1;
  IncrementMode new_rec_incr_mode = IncrementMode::kDays;
  double from_date_range = 0;  // SQLFromDateTimePicker1, local date/time
  double to_date_range = 0;    // SQLToDateTimePicker1, local date/time
  int date_range_incr_value = 1;
  IncrementMode date_range_incr_mode = IncrementMode::kDays;
  bool overwrite = false;
  bool sql_backup = false;
  std::string sql_connection_string;
  std::string sql_auth_option;
  std::string sql_database_name{kDefaultDatabaseName};
  std::string sql_table_name{kDefaultTableName};
  std::string sql_odbc_alias;
  TimeZoneOption time_zone_option = TimeZoneOption::kComputer;
  std::string time_zone_name;               // display name of the selected zone; empty: none
  std::optional<ZoneRule> time_zone_rule;   // rule of the selected zone, when one is selected
  int time_zone_offset = 0;                 // whole hours, local time minus UTC
  std::vector<std::string> connect_sql;     // "By SQL Query" selection statement lines
  std::vector<std::string> disconnect_sql;  // "By SQL Query" deletion statement lines
  bool delete_recs = false;
  bool poll_again = true;
  int wait_before_polling_again = 3;  // seconds, no range
  int late_arrival_minutes = 60;      // "New Records Only" looks back this far (0 to 1440)
  bool use_dialup = false;
  std::string dial_user_name;
  std::string dial_password;
  std::string dial_domain;
  std::string phonebook_entry;
  // The folder CallManager 5 and later push CDR files to; empty: the CDR database above.
  std::string cdr_file_folder;
  int cdr_file_settle_seconds = 30;  // a file unchanged this long is complete
  int cdr_file_keep_days = 7;        // imported files kept in collected/; 0: removed at once
  // LogRecordLines: the unattended run's log shows each record's line (the count per pass is
  // logged either way); an administrator's key, left alone by SaveProfile.
  bool log_record_lines = true;

  // NewRecDatePicker1 / NewRecTimePicker1: SQLNewRecDate as local date/time, shown only.
  double new_rec_date_local = 0;
};

// The texts of the main window's Login1, Password1 and ServerName1 after a load.
struct MainWindowTexts {
  std::string login;
  std::string password;
  std::string server_name;
};

// An empty ServerName shows the stand-in login, password and kDefaultServerName; the stored
// values stay in the settings (a run connects with them).
MainWindowTexts MainWindowLogin(const ProfileSettings& settings);

// The conversions' view of the profile: its option, offset, selected zone and this computer's
// rule.
TimeZoneSettings ProfileTimeZone(const ProfileSettings& settings, const ZoneRule& computer_rule);

std::string_view RetrievalModeText(RetrievalMode mode);
std::string_view IncrementModeText(IncrementMode mode);

// The item matching text without regard to case; none when no item matches.
std::optional<RetrievalMode> FindRetrievalMode(std::string_view text);
std::optional<IncrementMode> FindIncrementMode(std::string_view text);

// ---- The key table -------------------------------------------------------------------------

enum class KeyKind {
  kText,
  kFlag,
  kWhole,
  kChoice,
  kLineList,
  kLocalTime,   // time value held as a picker's local date/time
  kCdrSeconds,  // time value held as CDR seconds (SQLNewRecDate)
};

// The member a key is held in.
using KeyField =
    std::variant<std::string ProfileSettings::*, bool ProfileSettings::*, int ProfileSettings::*,
                 double ProfileSettings::*, RetrievalMode ProfileSettings::*,
                 IncrementMode ProfileSettings::*, TimeZoneOption ProfileSettings::*,
                 std::vector<std::string> ProfileSettings::*>;

struct ProfileKey {
  std::string_view name;  // the key, or the key stem of a line list
  KeyKind kind;
  KeyField field;
  // Text: the value taken when the stored one is empty (none when empty stays empty).
  // Flag: "Y" when only "N" reads as no, "N" when only "Y" reads as yes.
  // Whole number: the text read in place of an empty value. Choice: the fallback item.
  std::string_view fallback;
  std::int32_t min = 0;  // whole numbers: the range; min > max means no range
  std::int32_t max = -1;
  bool saved = true;  // written by SaveProfile
  // A key of the CDR file folder: written and printed only for a profile that names one, so
  // that every other profile's file stays as it was.
  bool file_source = false;
};

// Every key of the profile file, in the order SaveProfile writes them; the ones not `saved`
// (the last three) are never written by SaveProfile.
std::span<const ProfileKey> ProfileKeys();

// The entry of a key (name compared without regard to case), nullptr when none.
const ProfileKey* FindProfileKey(std::string_view name);

}  // namespace remoteccm
