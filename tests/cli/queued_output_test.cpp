// Standard output through its queue: a reader that reads gets every byte in order; a reader
// that never reads or went away holds nothing up, and what it missed is counted.
#include "cli/queued_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace remoteccm {
namespace {

using std::chrono::milliseconds;

constexpr QueuedOutput::Limits kSmall{
    .queue_bytes = 1024, .stall = milliseconds(50), .after_stop = milliseconds(50)};

struct Pipe {
  Pipe() {
    EXPECT_EQ(::pipe(ends), 0);
    ::signal(SIGPIPE, SIG_IGN);
  }
  ~Pipe() {
    for (const int fd : ends) {
      if (fd >= 0) ::close(fd);
    }
  }
  // Nothing more fits until someone reads.
  void Fill() const {
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, 'x');
    while (::write(ends[1], filler.data(), filler.size()) > 0) {
    }
    ::fcntl(ends[1], F_SETFL, 0);
  }
  // The write end for an output whose writer may be left stuck in a write: like the program's
  // standard output, that descriptor stays open until the process ends, so that its number is
  // never reused under the writer. Closing the read end ends the stuck write.
  int EndKeptForAStuckWriter() const { return ::dup(ends[1]); }
  int ends[2] = {-1, -1};
};

TEST(QueuedOutputTest, AReaderGetsEveryLineInOrder) {
  Pipe pipe;
  std::string read;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(pipe.ends[0], buffer, sizeof buffer)) > 0) {
      read.append(buffer, static_cast<std::size_t>(n));
    }
  });
  std::string expected;
  {
    // A queue far smaller than the text: the writer waits for room, as the reader makes it.
    QueuedOutput output(pipe.ends[1], {.queue_bytes = 1024, .stall = milliseconds(60000)});
    for (int i = 0; i < 20000; ++i) {
      const std::string line = "line " + std::to_string(i) + "\n";
      output.Write(line);
      expected += line;
    }
    EXPECT_TRUE(output.Finish());
    EXPECT_EQ(output.LeftOut(), 0);
  }
  ::close(pipe.ends[1]);
  pipe.ends[1] = -1;
  reader.join();
  EXPECT_EQ(read, expected);
}

// A socket that keeps each write apart, so that the reader counts the writes.
TEST(QueuedOutputTest, LinesGoOutInBlocksAndALoneLineWithoutWaitingForTheEnd) {
  int ends[2] = {-1, -1};
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
  const auto read_one = [&ends] {
    pollfd ready{.fd = ends[0], .events = POLLIN, .revents = 0};
    if (::poll(&ready, 1, 10000) != 1) return std::string();
    std::string packet(1 << 17, '\0');
    const ssize_t n = ::recv(ends[0], packet.data(), packet.size(), 0);
    packet.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return packet;
  };
  // A queue whose blocks fit the socket's packets. A lone line goes out once it has waited for
  // others a while.
  {
    QueuedOutput alone(ends[1], {.queue_bytes = 32u << 10, .stall = milliseconds(60000)});
    alone.Write("the first line\n");
    EXPECT_EQ(read_one(), "the first line\n");
    EXPECT_TRUE(alone.Finish());
  }
  // Lines that keep coming go out a block at a time, however slowly they come: the wait for a
  // block is made longer than the test.
  QueuedOutput output(
      ends[1],
      {.queue_bytes = 32u << 10, .stall = milliseconds(60000), .gather = milliseconds(600000)});

  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "record line " + std::to_string(i) + "\n";
  std::string read;
  int writes = 0;
  std::thread reader([&] {
    while (read.size() < expected.size()) {
      const std::string packet = read_one();
      if (packet.empty()) break;
      read += packet;
      ++writes;
    }
  });
  for (std::size_t at = 0; at < expected.size();) {
    const std::size_t end = expected.find('\n', at) + 1;
    output.Write(std::string_view(expected).substr(at, end - at));
    at = end;
    std::this_thread::yield();  // as a run does its work between lines, and the writer runs
  }
  EXPECT_TRUE(output.Finish());
  reader.join();
  EXPECT_EQ(read, expected);
  // A write per line would be 20,000; a block holds a thousand of these lines.
  EXPECT_LT(writes, 100);
  ::close(ends[0]);
  ::close(ends[1]);
}

TEST(QueuedOutputTest, AReaderWhoNeverReadsOrWentAwayMissesCountedLines) {
  for (const bool gone : {false, true}) {
    SCOPED_TRACE(gone ? "reader gone" : "reader never reads");
    Pipe pipe;
    if (gone) {
      ::close(pipe.ends[0]);
      pipe.ends[0] = -1;
    } else {
      pipe.Fill();
    }
    QueuedOutput output(pipe.EndKeptForAStuckWriter(), kSmall);
    for (int i = 0; i < 1000; ++i) output.Write("a line of the log\n");
    EXPECT_FALSE(output.Finish());
    EXPECT_EQ(output.Error(), gone ? EPIPE : 0);
    EXPECT_EQ(output.LeftOut(), 1000);
  }
}

TEST(QueuedOutputTest, AfterAStopNothingWaitsForTheReader) {
  Pipe pipe;
  pipe.Fill();
  // A stall far longer than any test: a wait would hold the test up.
  QueuedOutput output(
      pipe.EndKeptForAStuckWriter(),
      {.queue_bytes = 1024, .stall = milliseconds(3600 * 1000), .after_stop = milliseconds(50)});
  output.Write(std::string(1000, 'x') + "\n");
  output.Write("queued\n");
  output.Stop();
  output.Write(std::string(1020, 'z') + "\n");  // no room, and no wait for any
  EXPECT_FALSE(output.Finish());
  EXPECT_EQ(output.LeftOut(), 3);
}

}  // namespace
}  // namespace remoteccm
