#include "profile/profile_settings.h"

#include "util/text_routines.h"

namespace remoteccm {

namespace {

using S = ProfileSettings;

// name, kind, field, fallback, min, max, saved, file_source
constexpr ProfileKey kProfileKeys[] = {
    {"Login", KeyKind::kText, &S::login},
    {"Password", KeyKind::kText, &S::password},
    {"ServerName", KeyKind::kText, &S::server_name},
    {"DestinationFile", KeyKind::kText, &S::destination_file},
    {"ConnectSQLMode", KeyKind::kChoice, &S::connect_sql_mode, "No Records"},
    {"SQLNewRecIncrValue", KeyKind::kWhole, &S::new_rec_incr_value, "", 1, 365},
    {"SQLNewRecIncrMode", KeyKind::kChoice, &S::new_rec_incr_mode, "day(s)"},
    {"SQLFromDateRange", KeyKind::kLocalTime, &S::from_date_range},
    {"SQLToDateRange", KeyKind::kLocalTime, &S::to_date_range},
    {"SQLDateRangeIncrValue", KeyKind::kWhole, &S::date_range_incr_value, "", 1, 365},
    {"SQLDateRangeIncrMode", KeyKind::kChoice, &S::date_range_incr_mode, "day(s)"},
    {"Overwrite", KeyKind::kFlag, &S::overwrite, "N"},
    {"SQLBackup", KeyKind::kFlag, &S::sql_backup, "N"},
    {"SQLConnectionString", KeyKind::kText, &S::sql_connection_string},
    {"SQLAuthOption", KeyKind::kText, &S::sql_auth_option},
    {"SQLDatabaseName", KeyKind::kText, &S::sql_database_name, kDefaultDatabaseName},
    {"SQLTableName", KeyKind::kText, &S::sql_table_name, kDefaultTableName},
    {"SQLODBCAlias", KeyKind::kText, &S::sql_odbc_alias},
    {"SQLTimeZoneOption", KeyKind::kWhole, &S::time_zone_option, "1"},
    {"SQLTimeZoneName", KeyKind::kText, &S::time_zone_name},
    {"SQLTimeZoneOffset", KeyKind::kWhole, &S::time_zone_offset, "", -23, 25},
    {"ConnectSQL", KeyKind::kLineList, &S::connect_sql},
    {"DisconnectSQL", KeyKind::kLineList, &S::disconnect_sql},
    {"DeleteRecs", KeyKind::kFlag, &S::delete_recs, "N"},
    {"PollAgain", KeyKind::kFlag, &S::poll_again, "Y"},
    {"WaitBeforePollingAgain", KeyKind::kWhole, &S::wait_before_polling_again, "3"},
    {"LateArrivalMinutes", KeyKind::kWhole, &S::late_arrival_minutes, "60", 0, 1440},
    {"SQLDisplayRecords", KeyKind::kFlag, &S::sql_display_records, "N"},
    {"UseDialup", KeyKind::kFlag, &S::use_dialup, "N"},
    {"DialUserName", KeyKind::kText, &S::dial_user_name},
    {"DialPassword", KeyKind::kText, &S::dial_password},
    {"DialDomain", KeyKind::kText, &S::dial_domain},
    {"PhonebookEntry", KeyKind::kText, &S::phonebook_entry},
    {"CdrFileFolder", KeyKind::kText, &S::cdr_file_folder, "", 0, -1, true, true},
    {"CdrFileSettleSeconds", KeyKind::kWhole, &S::cdr_file_settle_seconds, "30", 0, 86400, true,
     true},
    {"CdrFileKeepDays", KeyKind::kWhole, &S::cdr_file_keep_days, "7", 0, 3650, true, true},
    {"LogRecordLines", KeyKind::kFlag, &S::log_record_lines, "Y", 0, -1, false},
    {"SQLNewRecDate", KeyKind::kCdrSeconds, &S::sql_new_rec_date, "", 0, -1, false},
    {"SQLDateTimeFldName", KeyKind::kText, &S::sql_date_time_fld_name, kDefaultDateTimeFieldName, 0,
     -1, false},
};

template <typename Enum, std::size_t N>
std::optional<Enum> FindItem(const std::array<std::string_view, N>& items, std::string_view text) {
  for (std::size_t i = 0; i < N; ++i) {
    if (SameText(items[i], text)) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

}  // namespace

MainWindowTexts MainWindowLogin(const ProfileSettings& settings) {
  if (!settings.server_name.empty()) {
    return {settings.login, settings.password, settings.server_name};
  }
  return {std::string(kStandInLogin), std::string(kStandInPassword),
          std::string(kDefaultServerName)};
}

TimeZoneSettings ProfileTimeZone(const ProfileSettings& settings, const ZoneRule& computer_rule) {
  TimeZoneSettings zone;
  zone.option = settings.time_zone_option;
  zone.selected_rule = settings.time_zone_rule;
  zone.offset_hours = settings.time_zone_offset;
  zone.computer_rule = computer_rule;
  return zone;
}

std::string_view RetrievalModeText(RetrievalMode mode) {
  return kRetrievalModeItems.at(static_cast<std::size_t>(mode));
}

std::string_view IncrementModeText(IncrementMode mode) {
  return kIncrementModeItems.at(static_cast<std::size_t>(mode));
}

std::optional<RetrievalMode> FindRetrievalMode(std::string_view text) {
  return FindItem<RetrievalMode>(kRetrievalModeItems, text);
}

std::optional<IncrementMode> FindIncrementMode(std::string_view text) {
  return FindItem<IncrementMode>(kIncrementModeItems, text);
}

std::span<const ProfileKey> ProfileKeys() { return kProfileKeys; }

const ProfileKey* FindProfileKey(std::string_view name) {
  for (const ProfileKey& key : kProfileKeys) {
    if (SameText(key.name, name)) return &key;
  }
  return nullptr;
}

}  // namespace remoteccm
