// CDR files pushed to the profile's folder through a real OpenSSH server, as a CallManager's
// CDR Repository pushes them (POSIX only: the server is the host's sshd).
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "cdr_files_fixture.h"
#include "support/run_cli.h"
#include "support/unprivileged.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

// The push target of a CallManager: a real OpenSSH server (scripts/start-test-sshd, named by
// REMOTECCM_TEST_SFTP) whose SFTP-only user writes into the profile's folder, and the files
// pushed with sftp as the CDR Repository pushes them.
class SftpPushTest : public CdrFilesCliTest {
 protected:
  void SetUp() override {
    CdrFilesCliTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    const char* info = std::getenv("REMOTECCM_TEST_SFTP");
    if (info == nullptr || *info == '\0') {
      if (std::getenv("REMOTECCM_REQUIRE_SFTP") != nullptr) FAIL() << "no REMOTECCM_TEST_SFTP";
      GTEST_SKIP() << "no test SFTP server (REMOTECCM_TEST_SFTP)";
    }
    // The server has one push folder: the tests that push to it take turns, whatever ctest
    // runs beside them.
    turn_ = FileDescriptor(open(info, O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(turn_.IsOpen() && flock(turn_.Get(), LOCK_EX) == 0) << info;
    std::ifstream in(info);
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) server_[line.substr(0, equals)] = line.substr(equals + 1);
    }
    ASSERT_TRUE(server_.count("folder") && server_.count("remote")) << info;
    folder_ = server_["folder"];
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
      fs::remove_all(entry.path());
    }
    fs::create_directory(home_ / "stage");
  }
  fs::path Folder() const override { return folder_; }

  // Runs sftp's batch of commands as the Repository's client; true when every one succeeded.
  bool Push(const std::string& commands) {
    const fs::path batch = home_ / "stage" / "batch";
    std::ofstream(batch, std::ios::binary) << commands;
    const std::string command =
        "sftp -q -b '" + batch.string() + "' -i '" + server_["key"] + "' -P " + server_["port"] +
        " -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null " +
        server_["user"] + "@127.0.0.1 >>'" + (home_ / "sftp.log").string() + "' 2>&1";
    return std::system(command.c_str()) == 0;
  }
  std::string Stage(const std::string& name, const std::string& text) {
    std::ofstream(home_ / "stage" / name, std::ios::binary) << text;
    return (home_ / "stage" / name).string();
  }
  std::string Remote(const std::string& name) { return server_["remote"] + "/" + name; }
  std::string SftpLog() const { return testing::ReadFile(home_ / "sftp.log"); }

  std::map<std::string, std::string> server_;
  fs::path folder_;
  FileDescriptor turn_;  // holds the server's folder for this test
};

// A file pushed whole is collected; an upload held half-written (cut inside a line) while a run
// looks is left, and collected once the upload is resumed to its end; the Repository's resend
// adds nothing.
TEST_P(SftpPushTest, PushedFilesAreCollectedOnceAndHalfUploadsLeft) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteFilesProfile(true);
  const std::string first = "cdr_StandAloneCluster_01_202611010000_1";
  const std::string second = "cdr_StandAloneCluster_02_202611010001_1";
  const std::string whole = FileText(41, 80);
  const std::string half = whole.substr(0, whole.size() / 2 + 7);
  ASSERT_NE(half.back(), '\n');
  ASSERT_TRUE(Push("put " + Stage(first, FileText(1, 40)) + " " + Remote(first) + "\nput " +
                   Stage("half", half) + " " + Remote(second) + "\n"))
      << SftpLog();
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 40);
  EXPECT_TRUE(fs::exists(Folder() / second));
  EXPECT_NE(
      Log().find("The CDR file " + second + " cannot be imported: its last line is cut short"),
      std::string::npos)
      << Log();

  // The upload goes on where it stopped, as a resumed transfer does.
  ASSERT_TRUE(Push("reput " + Stage(second, whole) + " " + Remote(second) + "\n")) << SftpLog();
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 80);

  ASSERT_TRUE(Push("put " + (home_ / "stage" / first).string() + " " + Remote(first) + "\n"))
      << SftpLog();
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 80);
  EXPECT_NE(Log().find("the file was sent again"), std::string::npos) << Log();
}

// An upload that stalls just after a line end, with the server holding the file open: the run
// imports what is there and moves the file out of the folder; the rest the server then writes
// into it is imported by the next run, nothing twice.
TEST_P(SftpPushTest, AnUploadThatPausesAfterALineEndLosesNothing) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteFilesProfile(true);
  const std::string name = "cdr_StandAloneCluster_01_202611010000_1";
  const std::string first_part = FileText(1, 20);
  const std::string whole = first_part + FileText(21, 40).substr(FileText(21, 20).size());
  const fs::path release = home_ / "stage" / "release";
  ASSERT_EQ(::mkfifo(release.c_str(), 0600), 0);
  const fs::path batch = home_ / "stage" / "batch";
  std::ofstream(batch, std::ios::binary) << "put " + Stage(name, whole) + " " + Remote(name) + "\n";
  // One write a block of the first part's size: the relay holds the second.
  testing::ChildProcess upload(
      "/usr/bin/sftp",
      {"-q",
       "-b",
       batch.string(),
       "-B",
       std::to_string(first_part.size()),
       "-R",
       "1",
       "-S",
       REMOTECCM_SFTP_HOLD_RELAY,
       "-i",
       server_["key"],
       "-P",
       server_["port"],
       "-o",
       "BatchMode=yes",
       "-o",
       "StrictHostKeyChecking=no",
       "-o",
       "UserKnownHostsFile=/dev/null",
       server_["user"] + "@127.0.0.1"},
      {{"REMOTECCM_HOLD_WRITES", "1"}, {"REMOTECCM_HOLD_RELEASE", release.string()}},
      home_ / "sftp.log", home_ / "sftp.log");
  std::error_code size_error;
  while (fs::file_size(Folder() / name, size_error) != first_part.size()) {
    ASSERT_FALSE(upload.Ended().has_value()) << SftpLog();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 20);
  EXPECT_FALSE(fs::exists(Folder() / name));
  // The relay waits on the FIFO once the second write comes: opened, it lets it through.
  for (int fd = -1; fd < 0;) {
    fd = ::open(release.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    ASSERT_FALSE(upload.Ended().has_value()) << SftpLog();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(upload.Wait(), 0) << SftpLog();
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 40);
  EXPECT_NE(Log().find("grew after its import: 20 more records imported"), std::string::npos)
      << Log();
}

// What the push account can do from inside its chroot: links named collected and rejected
// (the collector's folders once lived there) pointing at a folder of the collector's, a damaged
// file whose header is a secret, and the import lock of old held. None reaches outside the
// folder, and nothing of the file's content reaches the log.
TEST_P(SftpPushTest, ThePushAccountCannotReachOutsideItsFolder) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteFilesProfile(true);
  const fs::path victim = home_ / "victim";
  fs::create_directory(victim);
  for (const char* name : {"cdr_old_1", "cdr_old_2", "SITE.CCM"}) {
    testing::WriteFile(victim / name, "keep");
    ASSERT_TRUE(SetFileTimes(victim / name, 1000000000));
  }
  const std::string good = "cdr_StandAloneCluster_01_202611010000_1";
  const std::string damaged = "cdr_StandAloneCluster_01_202611010001_2";
  ASSERT_TRUE(Push("symlink " + victim.string() + " " + Remote("collected") + "\nsymlink " +
                   victim.string() + " " + Remote("rejected") + "\nput " +
                   Stage(good, FileText(1, 5)) + " " + Remote(good) + "\nput " +
                   Stage(damaged, "\"root:$6$secret:19000\"\nINTEGER\nx\n") + " " +
                   Remote(damaged) + "\n"))
      << SftpLog();
  ASSERT_TRUE(fs::is_symlink(Folder() / "collected"));
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 5);
  EXPECT_EQ(std::distance(fs::directory_iterator(victim), {}), 3);
  EXPECT_TRUE(fs::exists(home_ / "SITE.rejected" / damaged));
  EXPECT_EQ(Log().find("secret"), std::string::npos) << Log();
  EXPECT_EQ(testing::ReadFile(home_ / "SITE.status").find("secret"), std::string::npos);
  // A lock the account holds in its folder holds nothing up.
  const std::optional<LockFile> held = LockFile::TryTake(Folder() / ".remoteccm-import.lock");
  ASSERT_TRUE(held);
  ASSERT_TRUE(Push("put " + Stage(good + "2", FileText(6, 8)) + " " + Remote(good + "2") + "\n"))
      << SftpLog();
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 8);
}

// The shipped unit's command (remoteccm-push-perms@.service) for the folder, as its user: the
// words of its ExecStart with %f and %u given. Its exit status.
int RunPushPermissions(const fs::path& folder, const std::string& user) {
  std::ifstream unit(fs::path(REMOTECCM_SOURCE_DIR) / "packaging" / "systemd" /
                     "remoteccm-push-perms@.service");
  std::vector<std::string> words;
  for (std::string line; std::getline(unit, line);) {
    if (!line.starts_with("ExecStart=")) continue;
    std::istringstream in(line.substr(std::string_view("ExecStart=").size()));
    for (std::string word; in >> word;) {
      words.push_back(word == "%f" ? folder.string() : word == "%u" ? user : word);
    }
  }
  const passwd* account = ::getpwnam(user.c_str());
  if (words.empty() || account == nullptr) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (::setgroups(0, nullptr) == 0 && ::setgid(account->pw_gid) == 0 &&
        ::setuid(account->pw_uid) == 0) {
      ::execv(argv[0], argv.data());
    }
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A file pushed with its own mode 0600 (sftp put -p), which no umask of the server widens: a
// collector that is not root cannot read it until the shipped unit, run as the push account,
// gives the folder's group read and write; then it is collected.
TEST_P(SftpPushTest, AFilePushedPrivateIsCollectedOnceTheUnitGivesItToTheGroup) {
  if (!testing::RunsAsSuperuser()) GTEST_SKIP() << "the push account is another user only as root";
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteFilesProfile(true);
  const fs::path program = home_ / "remoteccm-cli";
  fs::copy_file(REMOTECCM_CLI_PATH, program);
  // The collector, "nobody", is of the folder's group, as the README's collector is.
  struct stat folder_facts {};
  ASSERT_EQ(::stat(Folder().c_str(), &folder_facts), 0);
  const passwd* collector = ::getpwuid(testing::UnprivilegedUid());
  ASSERT_NE(collector, nullptr);
  ASSERT_EQ(::chown(Folder().c_str(), static_cast<uid_t>(-1), collector->pw_gid), 0);
  const struct Restored {
    fs::path folder;
    gid_t group;
    ~Restored() { EXPECT_EQ(::chown(folder.c_str(), static_cast<uid_t>(-1), group), 0); }
  } restored{Folder(), folder_facts.st_gid};
  for (const auto& entry : fs::recursive_directory_iterator(home_)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), collector->pw_uid, collector->pw_gid), 0);
  }
  ASSERT_EQ(::chown(home_.c_str(), collector->pw_uid, collector->pw_gid), 0);
  const std::string name = "cdr_StandAloneCluster_01_202611010000_1";
  const std::string staged = Stage(name, FileText(1, 5));
  ASSERT_EQ(::chmod(staged.c_str(), 0600), 0);
  ASSERT_TRUE(Push("put -p " + staged + " " + Remote(name) + "\n")) << SftpLog();
  EXPECT_EQ(fs::status(Folder() / name).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  const std::string env = "REMOTECCM_HOME='" + home_.string() +
                          "' REMOTECCM_REGISTRY=/dev/null LSAN_OPTIONS=print_suppressions=0";
  const auto collect = [&](const std::string& expected) {
    testing::AsUnprivilegedUser([&] {
      const testing::CliResult result = testing::RunCli(env, "SITE", true, program.string());
      EXPECT_EQ(result.status, 0) << result.out;
      EXPECT_NE(result.out.find(expected), std::string::npos) << result.out;
    });
  };
  collect("cannot be imported: it cannot be opened (Permission denied)");
  EXPECT_TRUE(CollectedPkids().empty());
  EXPECT_EQ(RunPushPermissions(Folder(), server_["user"]), 0);
  collect("Imported the CDR file " + name + ": 5 records.");
  ExpectEachOnce(1, 5);
  EXPECT_FALSE(fs::exists(Folder() / name));
}

INSTANTIATE_TEST_SUITE_P(Sqlite, SftpPushTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
