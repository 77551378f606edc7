// A run that meets a fault: a destination that cannot be written, a field list that names
// nothing, an abort while the run waits on something, a failure while reading, a start that
// cannot be stored, a commit whose outcome is unknown. Nothing is lost and nothing is
// reported as a success.
#include <atomic>
#include <functional>
#include <thread>

#include "engine_faults_fixture.h"
#include "support/silent_server.h"
#include "util/file_steps.h"

namespace remoteccm::testing {
namespace {

namespace fs = std::filesystem;

// What makes a destination unwritable on every system.
TEST_P(EngineFaultsTest, DestinationThatCannotBeWrittenIsRefusedBeforeDeleting) {
  ExpectRefusedBeforeDeleting({
      {"a folder", out_ / "folder", [&] { return fs::create_directory(out_ / "folder"); }},
      {"no such folder", out_ / "missing" / "CDR.TXT", [] { return true; }},
      {"named like another destination's spool", out_ / "CDR.TXT.spool", [] { return true; }},
      {"its own backup file", out_ / "CDR.BAK", [] { return true; }},
  });
}

// A NUL byte in the destination's name ends it, as the platform reads values: the spool, its
// note and the destination stay three files.
TEST_P(EngineFaultsTest, NulByteEndsTheDestinationName) {
  Insert(SomeCalls(5));
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  const std::string named = destination_ + std::string(1, '\0') + ".spool-ready";
  Set("DestinationFile", named);
  ASSERT_NE(ReadFile(profile_path_).find(named), std::string::npos);
  EXPECT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines().size(), 5u);
  EXPECT_EQ(ServerCount(), 0);
  EXPECT_FALSE(fs::exists(destination_ + ".spool-ready"));
}

// A typing error in the field list, or a field list that cannot be read, must never turn into a
// deletion with nothing (or lines of another layout) written.
TEST_P(EngineFaultsTest, FieldListNamingNothingFailsBeforeDeleting) {
  Insert(SomeCalls(5));
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  WriteFieldFile("CCM_FIELDS.INF", "[CCM_FIELDS]\r\ncallingPartyNumbr=10\r\ndurationn=5\r\n");
  EXPECT_EQ(Run(), RunStatus::kPassFailed);
  EXPECT_EQ(ServerCount(), 5);
  EXPECT_EQ(observer_.Count("The field list names no column of the selection "
                            "(callingPartyNumbr, durationn)"),
            1);

  // One mistyped entry among others: its cells stay blank and the run says which.
  WriteFieldFile("CCM_FIELDS.INF", "[CCM_FIELDS]\r\ncallingPartyNumber=5\r\ndurationn=3\r\n");
  EXPECT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines().size(), 5u);
  EXPECT_EQ(DestinationLines().front(), " 2001     ");
  EXPECT_EQ(observer_.Count("Field list entries that name no column of the selection are left "
                            "blank: durationn"),
            1);

  // A field list that is there but cannot be read must not turn into the default layout.
  Insert(SomeCalls(5));
  fs::remove(home_ / "CCM_FIELDS.INF");
  fs::create_directory(home_ / "CCM_FIELDS.INF");
  EXPECT_EQ(Run(), RunStatus::kPassFailed);
  EXPECT_EQ(ServerCount(), 5);
  EXPECT_EQ(DestinationLines().size(), 5u);
  EXPECT_EQ(observer_.Count("The field list " + (home_ / "CCM_FIELDS.INF").string() +
                            " cannot be read: Is a directory. Nothing was deleted."),
            1);
}

// Waits, polling, until the predicate holds: the state a test waits on lies in another process
// or deep inside a driver call, where nothing can signal it.
void WaitUntil(const std::function<bool()>& holds) {
  while (!holds()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// An abort from another thread reaches whatever the run waits on, and the engine runs again.
// Each abort is sent only once the run is seen waiting.
TEST_P(EngineFaultsTest, AbortCancelsWhatTheRunWaitsOn) {
  Insert(SomeCalls(5));
  const std::string endless = IsSqlite() ? "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT "
                                           "x + 1 FROM c) SELECT x FROM c WHERE x < 0"
                                         : "SELECT pg_sleep(3600)";
  SilentServer silent;
  std::atomic<DbConnection*> run_database{nullptr};
  const auto inside_a_call = [&] {
    DbConnection* database = run_database.load();
    return database != nullptr && database->InsideCall();
  };
  struct Case {
    const char* what;
    std::map<std::string, std::string> profile;
    std::function<void()> before;   // what holds the run up
    std::function<void()> waiting;  // returns once the run waits on it
  };
  std::optional<DbConnection> holder;
  std::optional<DbTransaction> holding;
  const Case cases[] = {
      {"a selection that never ends",
       {{"ConnectSQLMode", "By SQL Query"}, {"ConnectSQL0", endless}, {"ConnectSQL1", "<end>"}},
       [] {},
       [&] { WaitUntil(inside_a_call); }},
      {"a table locked by another writer",
       {{"ConnectSQLMode", "All Records"}, {"DeleteRecs", "Y"}},
       [&] {
         holder.emplace();
         holder->Connect(connection_string_, "CDR", "", "");
         holding.emplace(*holder, IsolationLevel::kReadCommitted);
         holder->Execute(IsSqlite() ? "DELETE FROM " + table_ + " WHERE pkid = 'none'"
                                    : "LOCK TABLE " + table_ + " IN ACCESS EXCLUSIVE MODE");
       },
       [&] { WaitUntil(inside_a_call); }},
      {"a long pause",
       {{"ConnectSQLMode", "By SQL Query"},
        {"ConnectSQL0", "SELECT * FROM " + table_},
        {"ConnectSQL1", "<end>"},
        {"PollAgain", "Y"},
        {"WaitBeforePollingAgain", "3600"}},
       [] {},
       // The pass has delivered: what follows is the pause.
       [&] { WaitUntil([&] { return DestinationLines().size() == 5; }); }},
      {"a server that never answers",
       {{"SQLConnectionString", "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" +
                                    std::to_string(silent.port()) + ";Database=CDR;UID=x;PWD=y"}},
       [] {},
       [&] { silent.WaitForClient(); }},
  };
  SystemClock ticking;  // a pause that takes its time
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Set("SQLConnectionString", connection_string_);
    Set("WaitBeforePollingAgain", "0");
    Set("PollAgain", "N");
    Set("DeleteRecs", "N");
    for (const auto& [key, value] : c.profile) Set(key, value);
    c.before();
    observer_ = RecordingObserver();
    fs::remove(destination_);
    run_database = nullptr;
    Engine engine(env_, observer_, ticking, dialer_, nullptr);
    EngineHooks hooks;
    hooks.connected = [&](DbConnection& database) { run_database = &database; };
    engine.set_hooks(hooks);
    std::thread stopper([&] {
      c.waiting();
      engine.RequestAbort();
    });
    EXPECT_EQ(engine.RunProfile(profile_path_), RunStatus::kAborted);
    stopper.join();
    EXPECT_TRUE(observer_.errors.empty());  // an abort is no connection error to show
    holding.reset();
    holder.reset();
    EXPECT_EQ(ServerCount(), 5);
    EXPECT_FALSE(fs::exists(destination_ + ".spool"));

    // The same engine runs again, to its end.
    Set("SQLConnectionString", connection_string_);
    Set("ConnectSQLMode", "No Records");
    engine.ClearAbort();
    EXPECT_EQ(engine.RunProfile(profile_path_), RunStatus::kSuccess);
  }
}

// A stop asked for after the caller asked for the run but before the run began (a signal as the
// program starts, Abort as Connect is pressed) stops it before it reads anything.
TEST_P(EngineFaultsTest, AStopAskedForBeforeTheRunBeginsIsKept) {
  Insert(SomeCalls(5));
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  Engine engine(env_, observer_, clock_, dialer_, nullptr);
  engine.ClearAbort();
  engine.RequestAbort();
  EXPECT_EQ(engine.RunProfile(profile_path_), RunStatus::kAborted);
  EXPECT_EQ(ServerCount(), 5);
  EXPECT_TRUE(!fs::exists(destination_) || DestinationLines().empty());
}

// The steps that make a pass durable come in their order: the spool synced before the note
// that owes it (beside the profile, then beside the destination), both before the deletion is
// committed; the destination synced before the notes go, and the spool after them.
TEST_P(EngineFaultsTest, APassMakesItsFilesDurableInOrder) {
  Insert(SomeCalls(5));
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  std::vector<std::string> steps;
  const auto name = [](const fs::path& path) { return path.filename().string(); };
  WatchFileSteps([&](FileStep step, const fs::path& path) {
    static constexpr const char* kWords[] = {"write", "sync", "sync folder", "replace", "remove"};
    steps.push_back(std::string(kWords[static_cast<int>(step)]) + " " + name(path));
  });
  hooks_.at_point = [&](PassPoint point) {
    if (point == PassPoint::kCommitted) steps.emplace_back("committed");
  };
  struct Unwatch {
    ~Unwatch() { WatchFileSteps({}); }
  } unwatch;
  EXPECT_EQ(Run(), RunStatus::kSuccess);
  const std::string destination = name(destination_);
  const std::string owed = name(fs::path(profile_path_).replace_extension(".owed"));
  const std::vector<std::string> order = {"sync " + destination + ".spool",
                                          "replace " + owed,
                                          "replace " + destination + ".spool-ready",
                                          "committed",
                                          "sync " + destination,
                                          "remove " + destination + ".spool-ready",
                                          "remove " + owed,
                                          "remove " + destination + ".spool"};
  auto at = steps.begin();
  for (const std::string& step : order) {
    at = std::find(at, steps.end(), step);
    ASSERT_NE(at, steps.end()) << step << " not after the steps before it in:\n"
                               << ::testing::PrintToString(steps);
  }
  EXPECT_EQ(ServerCount(), 0);
}

// What the journal's priorities tell of a run's end: a run stopped between passes says so at
// err; one that found its destination held (exit 75, which its unit counts a success) logs
// nothing at err; the driver's message of a refused connection comes after the lines that led
// to it.
TEST_P(EngineFaultsTest, TheLogsPrioritiesTellHowTheRunEnded) {
  Insert(SomeCalls(5));
  Set("ConnectSQLMode", "By SQL Query");
  Set("ConnectSQL0", "SELECT * FROM " + table_);
  Set("ConnectSQL1", "<end>");
  Set("PollAgain", "Y");
  hooks_.at_point = [this](PassPoint point) {
    if (point == PassPoint::kStartStored) engine_->RequestAbort();
  };
  EXPECT_EQ(Run(), RunStatus::kAborted);
  EXPECT_EQ(observer_.error_lines, std::vector<std::string>{"Operation Aborted."});
  hooks_ = EngineHooks();

  std::string error;
  const std::optional<DestinationFiles> files = ResolveDestination(destination_, error);
  ASSERT_TRUE(files.has_value()) << error;
  std::optional<LockFile> held = TakeDestinationLock(*files);
  ASSERT_TRUE(held.has_value());
  EXPECT_EQ(Run(), RunStatus::kLocked);
  EXPECT_TRUE(observer_.error_lines.empty());
  EXPECT_EQ(engine_->LastRun().last_error.rfind("Another run is writing to ", 0), 0u);
  held.reset();

  Set("SQLConnectionString", "Driver=SQLite3;Database=" + DriverFilePath(dir_ / "none" / "cdr.db"));
  EXPECT_EQ(Run(), RunStatus::kConnectionFailed);
  ASSERT_EQ(observer_.errors.size(), 1u);
  ASSERT_GT(observer_.lines_before_error, 0u);
  EXPECT_EQ(observer_.log[observer_.lines_before_error - 1], "Cannot Connect to CCM SQL Server!");
}

// The backup lines of the records read before a failure stay in the backup file.
TEST_P(EngineFaultsTest, BackupKeepsWhatWasReadWhenReadingFails) {
  {
    DbTransaction batch(admin_, IsolationLevel::kReadCommitted);
    Insert(SomeCalls(2000));
    batch.Commit();
  }
  // Row 1500 fails: past the first block the PostgreSQL driver fetches.
  const std::string boom =
      IsSqlite() ? "abs(-9223372036854775807 - (duration + 1 - duration) * (globalCallID_callId = "
                   "1500))"
                 : "1 / (globalCallID_callId - 1500)";
  Set("ConnectSQLMode", "By SQL Query");
  Set("ConnectSQL0", "SELECT *, " + boom + " AS boom FROM " + table_);
  Set("ConnectSQL1", "<end>");
  Set("SQLBackup", "Y");
  EXPECT_EQ(Run(), RunStatus::kPassFailed);
  const std::vector<std::string> backup = Lines((dir_ / "out" / "CDR.BAK").string());
  ASSERT_GT(backup.size(), 1u);
  EXPECT_EQ(backup.size() - 1, static_cast<std::size_t>(observer_.Count("*backup>*: ")));
  if (IsSqlite()) {
    EXPECT_EQ(backup.size() - 1, 1499u);
  }
  EXPECT_TRUE(!fs::exists(destination_) || DestinationLines().empty());
}

// Lines appended and records deleted, but the new start cannot be stored: the run says so and
// fails, and the next run stores it without writing a line twice.
TEST_P(EngineFaultsTest, StartThatCannotBeStoredFailsTheRunAndIsStoredNextTime) {
  Insert(SomeCalls(5));
  Set("ConnectSQLMode", "New Records Only");
  Set("SQLNewRecDate", std::to_string(Utc(2026, 11, 1)));
  Set("SQLNewRecIncrValue", "30");
  Set("DeleteRecs", "Y");
  Set("PollAgain", "N");
  hooks_.at_point = [&](PassPoint point) {
    if (point == PassPoint::kAppended) fs::permissions(profile_path_, fs::perms::owner_read);
  };
  EXPECT_EQ(Run(), RunStatus::kPassFailed);
  EXPECT_EQ(observer_.Count("Unable to write to " + profile_path_ +
                            ": Permission denied: the lines are in "),
            1);
  EXPECT_EQ(DestinationLines().size(), 5u);
  EXPECT_EQ(ServerCount(), 0);

  hooks_ = EngineHooks();
  fs::permissions(profile_path_, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines().size(), 5u);
  EXPECT_EQ(Stored("SQLNewRecDate"), std::to_string(SomeCalls(5).back().disconnect + 1));
}

// Something unexpected inside a run ends it as failed with one line; no exception escapes.
TEST_P(EngineFaultsTest, AnUnexpectedErrorEndsTheRunAsFailed) {
  Insert(SomeCalls(5));
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  hooks_.at_point = [](PassPoint point) {
    if (point == PassPoint::kSpoolDurable) throw std::bad_alloc();
  };
  EXPECT_EQ(Run(), RunStatus::kPassFailed);
  EXPECT_EQ(observer_.Count("The run failed: std::bad_alloc"), 1);
  EXPECT_FALSE(observer_.running);
  EXPECT_EQ(ServerCount(), 5);
  hooks_ = EngineHooks();
  EXPECT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines().size(), 5u);
}

// The server goes away at the commit: the run fails, and the next one asks the table whether
// the deletion happened before it collects again.
// A server only: an embedded database cannot go away at the commit.
class EngineServerTest : public EngineTest {};

TEST_P(EngineServerTest, UnconfirmedCommitFailsAndIsResolvedByTheNextRun) {
  Insert(SomeCalls(5));
  Set("ConnectSQLMode", "All Records");
  Set("DeleteRecs", "Y");
  hooks_.at_point = [&](PassPoint point) {
    if (point != PassPoint::kReadyNoted) return;
    // The engine's session holds the lock of its deletion on the table.
    admin_.Execute(
        "SELECT pg_terminate_backend(l.pid) FROM pg_locks l JOIN pg_class c ON "
        "l.relation = c.oid WHERE c.relname = '" +
        table_ + "' AND l.pid <> pg_backend_pid()");
  };
  EXPECT_EQ(Run(), RunStatus::kPassFailed);
  EXPECT_EQ(observer_.Count("The deletion could not be confirmed"), 1);
  EXPECT_TRUE(fs::exists(destination_ + ".spool-ready"));
  EXPECT_EQ(ServerCount(), 5);

  hooks_ = EngineHooks();
  EXPECT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(observer_.Count("An earlier run of profile SITE stopped before its deletion was "
                            "committed"),
            1);
  EXPECT_EQ(DestinationLines().size(), 5u);
  EXPECT_EQ(ServerCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Drivers, EngineFaultsTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });
INSTANTIATE_TEST_SUITE_P(Server, EngineServerTest, ::testing::Values("postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm::testing
