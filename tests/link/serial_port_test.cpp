// CSerialPort on a real pty: what Read and ReadByte take from the queue, time-outs, closed
// ports, exclusive opening, and the OS's reason a call failed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "loader_fixture.h"
#include "pty_pair.h"

namespace {

class SerialPortTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(1, port.OpenPath(pty.slavePath.c_str(), 921600)); }
  // Sends bytes from the far end and waits until the port has them queued.
  void Arrive(const std::string& bytes) {
    pty.Send(bytes);
    usleep(20000);
  }
  PtyPair pty;
  CSerialPort port;
};

TEST_F(SerialPortTest, ReadTakesOnlyWhatIsQueuedUpToCapacity) {
  unsigned char buffer[64];
  EXPECT_EQ(0u, port.Read(buffer, sizeof buffer));  // nothing queued: at once, nothing
  std::string forty;
  for (int i = 0; i < 40; ++i) forty += static_cast<char>('a' + i % 26);
  Arrive(forty);
  ASSERT_EQ(16u, port.Read(buffer, 16));
  EXPECT_EQ(forty.substr(0, 16), std::string(buffer, buffer + 16));
  ASSERT_EQ(24u, port.Read(buffer, sizeof buffer));
  EXPECT_EQ(forty.substr(16), std::string(buffer, buffer + 24));
}

TEST_F(SerialPortTest, ReadByteKeepsTheLastOfUpToTenBytes) {
  const struct { std::string arrived; std::string expected; } cases[] = {
      {"\x43\x06", "\x06"},                    // 'C' then ACK together: the ACK counts
      {"0123456789A", "9A"},                   // eleven queued: the tenth, then the eleventh
  };
  for (const auto& c : cases) {
    Arrive(c.arrived);
    std::string got;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      unsigned char b = 0xEE;
      ASSERT_EQ(1, port.ReadByte(&b, 1));
      got += static_cast<char>(b);
    }
    EXPECT_EQ(c.expected, got);
  }
}

TEST_F(SerialPortTest, ReadByteTimesOutInWholeSeconds) {
  unsigned char b = 0xEE;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, port.ReadByte(&b, 1));
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(0, b);
  EXPECT_GT(waited, 1.0);   // more than T ...
  EXPECT_LE(waited, 2.2);   // ... and at most T + 1 (with a little scheduling slack)
}

TEST_F(SerialPortTest, WritesReachTheFarEnd) {
  const unsigned char query[] = {0x24, 0x56, 0x00, 0x56, 0x3F, 0x3F};
  ASSERT_EQ(1, port.Write(query, sizeof query));
  usleep(20000);
  unsigned char got[16];
  ASSERT_EQ(6, read(pty.master, got, sizeof got));
  EXPECT_EQ(0, memcmp(query, got, 6));
}

TEST_F(SerialPortTest, SecondOpenOfAHeldPortFailsAndLeavesTheHolderAlone) {
  CSerialPort other;
  EXPECT_EQ(0, other.OpenPath(pty.slavePath.c_str(), 921600));
  EXPECT_FALSE(other.IsOpen());
  Arrive("x");
  unsigned char b = 0;
  ASSERT_EQ(1, port.ReadByte(&b, 1));
  EXPECT_EQ('x', b);
  port.Close();
  EXPECT_EQ(1, other.OpenPath(pty.slavePath.c_str(), 115200));  // free again once closed
}

TEST(SerialPortClosed, EveryOperationFailsAtOnce) {
  CSerialPort port;
  unsigned char buffer[4] = {1, 2, 3, 4};
  unsigned char b = 0xEE;
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(0, port.Write(buffer, 4));
  EXPECT_EQ(0u, port.Read(buffer, 4));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(0, port.ReadByte(&b, 5));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(0, b);
  port.Close();
  port.Close();  // any number of times
  EXPECT_EQ(0, port.OpenPath("/nonexistent/tty", 921600));
  EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPortOpen, RefusesWhatIsNotASerialLine) {
  CSerialPort port;
  EXPECT_EQ(0, port.OpenPath("/dev/null", 921600));  // no line settings: closed again
  EXPECT_FALSE(port.IsOpen());
  PtyPair pty;
  EXPECT_EQ(0, port.OpenPath(pty.slavePath.c_str(), 12345));  // a speed the line cannot take
  EXPECT_FALSE(port.IsOpen());
}

// Failed opens of real paths, each with the reason the OS gave; the next good open clears it.
class OpenFailureTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(1, holder.OpenPath(held.slavePath.c_str(), 921600));
    plainFile = temp.Image("plain.bin", 16);
  }
  TempDir temp;
  std::string plainFile;
  PtyPair held;  // opened by `holder` for the whole test
  CSerialPort holder;
  PtyPair spare;  // free for any opener
};

TEST_F(OpenFailureTest, EachFailureKeepsTheOsReasonUntilTheNextCall) {
  const struct {
    const char* what;
    std::function<std::string()> path;
    unsigned baud;
    CSerialPort::Error error;
    std::vector<int> codes;  // the OS numbers that may come with it
  } cases[] = {
      {"absent", [] { return std::string("/nonexistent/tty"); }, 921600,
       CSerialPort::kAbsent, {ENOENT}},
      {"below a plain file", [&] { return plainFile + "/tty"; }, 921600, CSerialPort::kAbsent,
       {ENOTDIR}},
      // As root the open itself passes TIOCEXCL and the lock refuses; otherwise the open does.
      {"held by another port", [&] { return held.slavePath; }, 921600, CSerialPort::kBusy,
       {EWOULDBLOCK, EBUSY}},
      {"a plain file", [&] { return plainFile; }, 921600, CSerialPort::kNotATerminal, {ENOTTY}},
      {"/dev/null", [] { return std::string("/dev/null"); }, 921600,
       CSerialPort::kNotATerminal, {ENOTTY}},
      {"a speed the line cannot take", [&] { return spare.slavePath; }, 12345,
       CSerialPort::kSettingsRefused, {EINVAL}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CSerialPort port;
    EXPECT_EQ(0, port.OpenPath(c.path().c_str(), c.baud));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(c.error, port.LastError());
    EXPECT_NE(c.codes.end(), std::find(c.codes.begin(), c.codes.end(), port.LastErrorCode()))
        << port.LastErrorCode();
    const std::string kind = std::string(" (") + CSerialPort::ErrorName(c.error) + ")";
    const std::string text = port.LastErrorText();
    ASSERT_GT(text.size(), kind.size()) << text;  // the OS's words come first
    EXPECT_EQ(kind, text.substr(text.size() - kind.size())) << text;

    ASSERT_EQ(1, port.OpenPath(spare.slavePath.c_str(), 921600));
    EXPECT_EQ(CSerialPort::kNone, port.LastError());
    EXPECT_EQ(0, port.LastErrorCode());
    EXPECT_EQ("no error", port.LastErrorText());
  }
  // The holder is untouched by all of it.
  EXPECT_TRUE(holder.IsOpen());
  EXPECT_EQ(CSerialPort::kNone, holder.LastError());
}

TEST(SerialPortError, TextsSayTheOsWordsThenTheKind) {
  CSerialPort port;
  EXPECT_EQ(0, port.OpenPath("/nonexistent/tty", 921600));
  EXPECT_EQ("no such file or directory (absent)", port.LastErrorText());
  PtyPair pty;
  CSerialPort holder;
  ASSERT_EQ(1, holder.OpenPath(pty.slavePath.c_str(), 921600));
  EXPECT_EQ(0, port.OpenPath(pty.slavePath.c_str(), 921600));
  const std::string busy = port.LastErrorCode() == EWOULDBLOCK
                               ? "locked by another opener (busy)"
                               : "device or resource busy (busy)";
  EXPECT_EQ(busy, port.LastErrorText());
}

// Root opens every file, so a user without the right is made by dropping to `nobody` in a
// child process; an unprivileged run needs no child.
TEST(SerialPortError, PermissionDenied) {
  PtyPair pty;
  ASSERT_EQ(0, chmod(pty.slavePath.c_str(), 0));
  CSerialPort port;  // made before the fork: the child only opens
  struct Outcome {
    int dropped, opened, error, code;
  } outcome = {1, 0, 0, 0};
  if (geteuid() != 0) {
    outcome.opened = port.OpenPath(pty.slavePath.c_str(), 921600);
    outcome.error = port.LastError();
    outcome.code = port.LastErrorCode();
  } else {
    int pipeEnds[2];
    ASSERT_EQ(0, pipe(pipeEnds));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipeEnds[0]);
      Outcome o = {0, 0, 0, 0};
      if (setgid(65534) == 0 && setuid(65534) == 0) {
        o.dropped = 1;
        o.opened = port.OpenPath(pty.slavePath.c_str(), 921600);
        o.error = port.LastError();
        o.code = port.LastErrorCode();
      }
      (void)!write(pipeEnds[1], &o, sizeof o);
      _exit(0);
    }
    close(pipeEnds[1]);
    const ssize_t got = read(pipeEnds[0], &outcome, sizeof outcome);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(static_cast<ssize_t>(sizeof outcome), got);
    if (!outcome.dropped) GTEST_SKIP() << "running as root and cannot become nobody (65534)";
  }
  EXPECT_EQ(0, outcome.opened);
  EXPECT_EQ(CSerialPort::kPermissionDenied, outcome.error);
  EXPECT_EQ(EACCES, outcome.code);
}

TEST_F(SerialPortTest, AHungUpLineSaysSoWhereAQuietOneDoesNot) {
  unsigned char buffer[4];
  unsigned char b = 0xEE;
  EXPECT_EQ(0u, port.Read(buffer, sizeof buffer));
  EXPECT_EQ(CSerialPort::kNone, port.LastError());  // nothing queued is no failure
  EXPECT_EQ(0, port.ReadByte(&b, 0));
  EXPECT_EQ(CSerialPort::kNone, port.LastError());  // neither is a time-out

  pty.Close();  // the far end goes away
  EXPECT_EQ(0u, port.Read(buffer, sizeof buffer));
  EXPECT_EQ(CSerialPort::kHungUp, port.LastError());
  EXPECT_EQ(0, port.ReadByte(&b, 0));
  EXPECT_EQ(CSerialPort::kHungUp, port.LastError());
  EXPECT_EQ(0, port.Write(buffer, 1));
  EXPECT_EQ(CSerialPort::kHungUp, port.LastError());
  EXPECT_EQ(EIO, port.LastErrorCode());
}

}  // namespace
