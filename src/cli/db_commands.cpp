// --columns PROFILE and --check PROFILE: the profile's CDR table seen through its own
// connection settings (SQLConnectionString, Login, Password, SQLDatabaseName, SQLTableName).
#include <cstdio>
#include <fstream>
#include <string>

#include "cdrfiles/cdr_file_source.h"
#include "cli/commands.h"
#include "platform/db/connection_check.h"
#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "profile/profile_file.h"
#include "util/clock.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// Loads the named profile into settings; an exit status other than kExitOk when that fails.
int LoadForDatabase(const CliContext& ctx, const std::string& profile, ProfileSettings& settings) {
  const ProfileEnvironment env = CliProfileEnvironment(ctx);
  const std::string path = ProfilePathFor(profile, env.program_home);
  if (!ProfileFileExists(path) || !std::ifstream(path, std::ios::binary).is_open()) {
    std::fprintf(stderr, "remoteccm-cli: no readable profile file %s\n", path.c_str());
    return kExitNoProfile;
  }
  // Both open the profile's database, and --check imports its CDR files: as root in another
  // user's home that would leave files the user's runs cannot replace.
  if (RefusedAsRootForOwner(ctx, env.program_home, path)) return kExitUsage;
  settings = LoadProfile(path, env);
  UseCdrDatabase(settings);
  if (TrimView(settings.sql_connection_string).empty() ||
      TrimView(settings.sql_database_name).empty() || TrimView(settings.sql_table_name).empty()) {
    std::fprintf(stderr,
                 "remoteccm-cli: the profile %s lacks a connection string, a database name or a "
                 "table name\n",
                 path.c_str());
    return kExitSettingsInvalid;
  }
  return kExitOk;
}

void Connect(DbConnection& db, const ProfileSettings& settings) {
  db.Connect(settings.sql_connection_string, settings.sql_database_name, settings.login,
             settings.password);
}

int Flushed(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("remoteccm-cli: could not write to standard output\n", stderr);
    return kExitIoError;
  }
  return status;
}

}  // namespace

int ColumnsCommand(const CliContext& ctx, const std::string& profile) {
  ProfileSettings settings;
  if (const int status = LoadForDatabase(ctx, profile, settings); status != kExitOk) return status;
  DbConnection db;
  try {
    Connect(db, settings);
  } catch (const DbError& error) {
    std::fprintf(stderr, "remoteccm-cli: cannot connect to the database: %s\n", error.what());
    return kExitConnectionFailed;
  }
  std::vector<DbColumnInfo> columns;
  try {
    columns = db.ListColumns(settings.sql_table_name);
  } catch (const DbError& error) {
    std::fprintf(stderr, "remoteccm-cli: cannot read the columns of %s: %s\n",
                 settings.sql_table_name.c_str(), error.what());
    return kExitConnectionFailed;
  }
  if (columns.empty()) {
    std::fprintf(stderr, "remoteccm-cli: the database has no table %s\n",
                 settings.sql_table_name.c_str());
    return kExitSettingsInvalid;
  }
  // One column a line: name, type and maximum length (0 for other than text), tab-separated.
  for (const DbColumnInfo& column : columns) {
    std::printf("%s\t%s\t%ld\n", column.name.c_str(), column.type_name.c_str(), column.max_length);
  }
  return Flushed(kExitOk);
}

int CheckCommand(const CliContext& ctx, const std::string& profile) {
  ProfileSettings settings;
  if (const int status = LoadForDatabase(ctx, profile, settings); status != kExitOk) return status;
  // A profile of CDR files checks its folder by importing what waits there.
  if (UsesCdrFiles(settings)) {
    CdrImportHooks hooks;
    hooks.log = [](std::string_view line, ImportLogLevel) {
      std::printf("%.*s\n", static_cast<int>(line.size()), line.data());
    };
    const CdrImportOutcome imported = ImportProfileCdrFiles(settings, SystemClock().Now(), hooks);
    if (imported.refused) return Flushed(kExitSettingsInvalid);
    if (!imported.usable) return Flushed(kExitConnectionFailed);
  }
  DbConnection db;
  const ConnectionCheckResult result =
      CheckConnection(db, {settings.sql_connection_string, settings.sql_database_name,
                           settings.sql_table_name, settings.login, settings.password});
  for (const std::string& line : result.lines) std::printf("%s\n", line.c_str());
  switch (result.outcome) {
    case ConnectionCheckOutcome::kReachable:
      return Flushed(kExitOk);
    case ConnectionCheckOutcome::kNotConnected:
      return Flushed(kExitConnectionFailed);
    case ConnectionCheckOutcome::kTableMissing:
    case ConnectionCheckOutcome::kTableUnreadable:
      break;
  }
  return Flushed(kExitSettingsInvalid);
}

}  // namespace remoteccm
