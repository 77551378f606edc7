#include "retrieval/run/engine.h"

#include "cdrfiles/cdr_file_source.h"
#include "platform/db/connection_string.h"
#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_names.h"
#include "util/text_routines.h"

namespace remoteccm {

Engine::Engine(const ProfileEnvironment& env, EngineObserver& observer, Clock& clock,
               Dialer& dialer, CompanionLink* companion)
    : env_(env), observer_(observer), clock_(clock), dialer_(dialer), companion_(companion) {}

Engine::~Engine() = default;

void Engine::AddLogLine(std::string_view line, LogPriority priority) {
  observer_.LogLineAt(priority, line);
  if (companion_ != nullptr && !line.empty()) {
    std::string text(line);
    text.push_back('\n');
    companion_->Send(text);
  }
}

RunStatus Engine::RunProfile(const std::string& profile_path) {
  const RunServices services{
      env_,
      observer_,
      clock_,
      dialer_,
      hooks_,
      abort_,
      [this](std::string_view line, LogPriority priority) { AddLogLine(line, priority); }};
  ProfileRun run(services, profile_path);
  run_ = &run;
  const RunStatus status = run.Execute();
  run_ = nullptr;
  last_run_ = run.summary();
  last_settings_ = run.settings();
  return status;
}

bool Engine::DeleteAllRecords(const ProfileSettings& given,
                              const std::function<void(std::string_view)>& report) {
  ProfileSettings settings = given;
  UseCdrDatabase(settings);
  last_run_ = RunSummary();
  last_run_.started = clock_.Now();
  last_run_.profile_path = settings.profile_path;
  last_run_.profile_name = settings.profile_name;
  last_run_.destination = settings.destination_file;
  last_run_.status = RunStatus::kPassFailed;
  const auto say = [&](std::string_view line) {
    if (report) {
      report(line);
    } else {
      AddLogLine(line);
    }
  };
  say("User Name:" + settings.login);
  say("Table Name:" + settings.sql_table_name);
  say("SQL Connection String:" + MaskConnectionPasswords(settings.sql_connection_string));
  bool deleted = false;
  const std::string name_problem = SqlNameProblem("The table name", settings.sql_table_name);
  if ((TrimView(settings.login).empty() && !UsesCdrFiles(settings)) ||
      TrimView(settings.sql_table_name).empty() ||
      TrimView(settings.sql_connection_string).empty()) {
    last_run_.last_error = "Invalid Connection Information. Cannot Connect!";
    last_run_.status = RunStatus::kSettingsInvalid;
    say(last_run_.last_error);
  } else if (!name_problem.empty()) {
    last_run_.last_error = name_problem;
    last_run_.status = RunStatus::kSettingsInvalid;
    say(name_problem);
  } else {
    deleted = DeleteTable(settings, say);
    say("Done");
  }
  last_run_.ended = clock_.Now();
  return deleted;
}

// The one DELETE statement over a connection of its own, which an abort reaches.
bool Engine::DeleteTable(const ProfileSettings& settings,
                         const std::function<void(std::string_view)>& say) {
  DbConnection database;
  const AbortPath::Reach reach(abort_, database);
  try {
    DbQuery remove(database);
    remove.AddLine("DELETE FROM " + settings.sql_table_name);
    database.Connect(settings.sql_connection_string, settings.sql_database_name, settings.login,
                     settings.password);
    say("Open Connection " + settings.login);
    if (!database.Connected()) return false;
    try {
      remove.Execute();
      say("Deleted Records");
      last_run_.status = RunStatus::kSuccess;
      return true;
    } catch (const DbError& e) {
      last_run_.last_error = e.what();
      say("Delete Failed");
    }
  } catch (const DbError& e) {
    last_run_.last_error = e.what();
    last_run_.status = RunStatus::kConnectionFailed;
    say("Connection Failed for User Name:" + settings.login);
  }
  return false;
}

}  // namespace remoteccm
