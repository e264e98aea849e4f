// CSerialPort on a real pty: what Read and ReadByte take from the queue, time-outs, closed
// ports and exclusive opening.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "link/serial_port.h"
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

}  // namespace
