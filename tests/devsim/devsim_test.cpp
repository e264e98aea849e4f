// The device simulator driven through its real pty with raw bytes: the version reply and its
// faults, the XMODEM receiver's answers to good, bad and repeated packets, verification of the
// received image, injected answers, back-to-back updates, and the program's command line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "flash/protocol.h"
#include "tools/devsim/devsim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using devsim::Fault;
using Clock = std::chrono::steady_clock;

constexpr int kTimeout = -1;  // Port::Answer: nothing came
constexpr int kHungUp = -2;   // Port::Answer: the device closed the line

Bytes MakeImage(size_t n, unsigned seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    b[i] = static_cast<uint8_t>(seed >> 16);
  }
  return b;
}

std::string TempFile(const Bytes& content) {
  static int counter = 0;
  std::string path = testing::TempDir() + "devsim_test_" + std::to_string(getpid()) + "_" +
                     std::to_string(counter++) + ".bin";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()), content.size());
  return path;
}

// The updater's end of the pty, raw, as the loader opens it.
class Port {
public:
  explicit Port(const std::string& path) {
    m_fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (m_fd >= 0) {
      termios tio;
      tcgetattr(m_fd, &tio);
      cfmakeraw(&tio);
      tcsetattr(m_fd, TCSANOW, &tio);
    }
  }
  ~Port() {
    if (m_fd >= 0) close(m_fd);
  }
  bool IsOpen() const { return m_fd >= 0; }

  void Write(const Bytes& b) {
    size_t done = 0;
    while (done < b.size()) {
      ssize_t n = write(m_fd, b.data() + done, b.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<size_t>(n);
    }
  }

  // One answer byte within `ms`, kTimeout, or kHungUp.
  int Answer(int ms = 3000) {
    pollfd p = {m_fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return kTimeout;
    uint8_t b;
    ssize_t n = read(m_fd, &b, 1);
    return n == 1 ? b : kHungUp;
  }

  // Everything that arrives within `ms`; each read's bytes are one chunk.
  std::vector<Bytes> Chunks(int ms) {
    std::vector<Bytes> chunks;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
      pollfd p = {m_fd, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0) return chunks;
      Bytes b(256);
      ssize_t n = read(m_fd, b.data(), b.size());
      if (n <= 0) return chunks;
      b.resize(static_cast<size_t>(n));
      chunks.push_back(b);
    }
  }

private:
  int m_fd = -1;
};

Bytes Query() {
  Bytes q(proto::kVersionQueryLength);
  proto::BuildVersionQuery(q.data());
  return q;
}

Bytes Download(uint32_t address, uint32_t length) {
  Bytes d(proto::kDownloadCommandLength);
  proto::BuildDownloadCommand(d.data(), address, length);
  return d;
}

// Packet `seq` with `block` bytes of `image` from `offset`, the rest filled with 0x1A.
Bytes Packet(uint8_t seq, const Bytes& image, size_t offset, int block = 1024) {
  Bytes data(block, proto::kPadByte);
  for (size_t i = 0; i < static_cast<size_t>(block) && offset + i < image.size(); ++i)
    data[i] = image[offset + i];
  Bytes p(block + proto::kPacketOverhead);
  proto::BuildPacket(p.data(), block == 1024 ? proto::kSTX : proto::kSOH, seq, data.data(), block,
                     static_cast<int>(p.size()));
  return p;
}

size_t Blocks(size_t length, int block) { return (length + block - 1) / block; }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class DevsimTest : public testing::Test {
protected:
  void Start(devsim::Options options) {
    m_device.reset(new devsim::Device(options));
    ASSERT_TRUE(m_device->Start()) << m_device->Error();
    m_port.reset(new Port(m_device->SlavePath()));
    ASSERT_TRUE(m_port->IsOpen());
  }

  // Version query (reply not checked), then the download command; true when 'C' came.
  bool Begin(uint32_t length, uint32_t address = 0x1000) {
    m_port->Write(Query());
    m_port->Chunks(100);
    m_port->Write(Download(address, length));
    return m_port->Answer() == proto::kCrcMode;
  }

  // Sends `image` from packet `first` on, expecting ACK for each; then four EOTs.
  void SendRest(const Bytes& image, size_t first = 1, int block = 1024) {
    for (size_t i = first; i <= Blocks(image.size(), block); ++i) {
      m_port->Write(Packet(static_cast<uint8_t>(i), image, (i - 1) * block, block));
      ASSERT_EQ(m_port->Answer(), proto::kACK) << "packet " << i;
    }
    m_port->Write({proto::kEOT, proto::kEOT, proto::kEOT, proto::kEOT});
    EXPECT_EQ(m_port->Answer(), proto::kACK);
  }

  devsim::Result Finish() {
    EXPECT_TRUE(m_device->WaitDone(3000));
    return m_device->GetResult();
  }

  std::unique_ptr<devsim::Device> m_device;
  std::unique_ptr<Port> m_port;
};

// --- version reply ---------------------------------------------------------------------------

struct ReplyCase {
  const char* name;
  Fault fault;
  std::function<void(const std::vector<Bytes>& chunks, const Bytes& good)> check;
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class VersionReplyTest : public DevsimTest, public testing::WithParamInterface<ReplyCase> {};

TEST_P(VersionReplyTest, AnswersTheQueryAsConfigured) {
  devsim::Options o;
  o.major = 3;
  o.minor = 7;
  o.sizeCode = 2;
  o.fault = GetParam().fault;
  Start(o);
  const Bytes good = {'$', 'V', 3, 3, 7, 2, 'V' + 3 + 3 + 7 + 2, '?', '?'};
  m_port->Write(Query());
  GetParam().check(m_port->Chunks(300), good);
  // Whatever the reply, the download command is answered as usual.
  m_port->Write(Download(0x1B0000, 10));
  EXPECT_EQ(m_port->Answer(), proto::kCrcMode);
  EXPECT_TRUE(m_device->GetResult().versionQuery);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VersionReplyTest,
    testing::Values(
        ReplyCase{"Normal", Fault::kNone,
                  [](const std::vector<Bytes>& c, const Bytes& good) {
                    ASSERT_EQ(c.size(), 1u);
                    EXPECT_EQ(c[0], good);
                  }},
        ReplyCase{"Noise", Fault::kNoiseReply,
                  [](const std::vector<Bytes>& c, const Bytes& good) {
                    ASSERT_EQ(c.size(), 1u);
                    ASSERT_GT(c[0].size(), good.size());
                    size_t noise = c[0].size() - good.size();
                    for (size_t i = 0; i < noise; ++i) EXPECT_NE(c[0][i], '$');
                    EXPECT_EQ(Bytes(c[0].begin() + noise, c[0].end()), good);
                  }},
        ReplyCase{"BadChecksum", Fault::kBadReplyChecksum,
                  [](const std::vector<Bytes>& c, const Bytes& good) {
                    ASSERT_EQ(c.size(), 1u);
                    ASSERT_EQ(c[0].size(), good.size());
                    EXPECT_NE(c[0][6], good[6]);
                    Bytes rest = c[0];
                    rest[6] = good[6];
                    EXPECT_EQ(rest, good);
                  }},
        ReplyCase{"Split", Fault::kSplitReply,
                  [](const std::vector<Bytes>& c, const Bytes& good) {
                    ASSERT_EQ(c.size(), 2u);  // two reads: the pause lets the first go alone
                    EXPECT_EQ(Cat(c[0], c[1]), good);
                  }},
        ReplyCase{"None", Fault::kNoVersionReply,
                  [](const std::vector<Bytes>& c, const Bytes&) { EXPECT_TRUE(c.empty()); }}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

// --- transfers that go right -----------------------------------------------------------------

struct TransferCase {
  const char* name;
  size_t length;
  int block;
};
void PrintTo(const TransferCase& c, std::ostream* os) { *os << c.name; }

class TransferTest : public DevsimTest, public testing::WithParamInterface<TransferCase> {};

TEST_P(TransferTest, ReceivesAndVerifiesTheImage) {
  const Bytes image = MakeImage(GetParam().length, 7);
  devsim::Options o;
  o.verifyFile = TempFile(image);
  Start(o);
  ASSERT_TRUE(Begin(static_cast<uint32_t>(image.size()), 4096));
  SendRest(image, 1, GetParam().block);
  devsim::Result r = Finish();
  EXPECT_TRUE(r.verified) << r.note;
  EXPECT_TRUE(r.completed);
  EXPECT_TRUE(r.versionQuery);
  EXPECT_EQ(r.address, 4096u);
  EXPECT_EQ(r.length, image.size());
  EXPECT_EQ(r.bytes, image.size());
  EXPECT_EQ(r.packets, Blocks(image.size(), GetParam().block));
  EXPECT_EQ(r.eots, 4u);
  EXPECT_EQ(r.naks, 0u);
  EXPECT_TRUE(r.errors.empty()) << r.errors[0];
}

INSTANTIATE_TEST_SUITE_P(
    Images, TransferTest,
    testing::Values(TransferCase{"Empty", 0, 1024},                  // EOT right after 'C'
                    TransferCase{"WholeBlocks", 3 * 1024, 1024},     // no fill bytes
                    TransferCase{"ShortLastBlock", 2 * 1024 + 1, 1024},
                    TransferCase{"SequenceWraps", 300 * 1024 + 5, 1024},  // 256th is seq 0
                    TransferCase{"SmallBlocks", 1000, 128}),
    [](const testing::TestParamInfo<TransferCase>& info) { return std::string(info.param.name); });

// --- packets that go wrong on the line ---------------------------------------------------------

struct LineCase {
  const char* name;
  // Sends a damaged or repeated form of packet 2 (`good`) and returns the answer it expects.
  std::function<int(Port&, const Bytes& good, const Bytes& previous)> damage;
  unsigned naks;
  unsigned duplicates;
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

// Sends packet 2 with the bits of `mask` flipped in byte `index` (from the end when negative):
// a damaged packet, to be NAKed.
std::function<int(Port&, const Bytes&, const Bytes&)> FlipBits(std::ptrdiff_t index,
                                                                 uint8_t mask) {
  return [index, mask](Port& port, const Bytes& good, const Bytes&) {
    Bytes p = good;
    p[index < 0 ? p.size() + index : static_cast<size_t>(index)] ^= mask;
    port.Write(p);
    return proto::kNAK;
  };
}

class LineFaultTest : public DevsimTest, public testing::WithParamInterface<LineCase> {};

TEST_P(LineFaultTest, AnswersAndRecovers) {
  const Bytes image = MakeImage(3 * 1024 - 10, 11);
  devsim::Options o;
  o.verifyFile = TempFile(image);
  Start(o);
  ASSERT_TRUE(Begin(static_cast<uint32_t>(image.size())));
  const Bytes p1 = Packet(1, image, 0), p2 = Packet(2, image, 1024);
  m_port->Write(p1);
  ASSERT_EQ(m_port->Answer(), proto::kACK);
  int expected = GetParam().damage(*m_port, p2, p1);
  EXPECT_EQ(m_port->Answer(), expected);
  SendRest(image, 2);
  devsim::Result r = Finish();
  EXPECT_TRUE(r.verified) << r.note;
  EXPECT_EQ(r.packets, 3u);
  EXPECT_EQ(r.naks, GetParam().naks);
  EXPECT_EQ(r.duplicates, GetParam().duplicates);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, LineFaultTest,
    testing::Values(
        LineCase{"BadCrc", FlipBits(-1, 0x01), 1, 0},
        LineCase{"BadData", FlipBits(500, 0x80), 1, 0},
        LineCase{"BadComplement", FlipBits(2, 0x01), 1, 0},
        LineCase{"HeaderLostLongerTail",  // an SOH header: the rest of the 1 KiB packet is drained
                 [](Port& port, const Bytes& good, const Bytes&) {
                   Bytes p = good;
                   p[0] = proto::kSOH;
                   port.Write(p);
                   return proto::kNAK;
                 },
                 1, 0},
        LineCase{"CutShort",
                 [](Port& port, const Bytes& good, const Bytes&) {
                   port.Write(Bytes(good.begin(), good.begin() + 600));
                   return proto::kNAK;  // after the packet's inter-byte time-out
                 },
                 1, 0},
        LineCase{"Duplicate",  // the ACK of packet 1 was taken as lost
                 [](Port& port, const Bytes&, const Bytes& previous) {
                   port.Write(previous);
                   return proto::kACK;
                 },
                 0, 1}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST_F(DevsimTest, SequenceErrorCancels) {
  const Bytes image = MakeImage(3 * 1024, 3);
  Start(devsim::Options());
  ASSERT_TRUE(Begin(static_cast<uint32_t>(image.size())));
  m_port->Write(Packet(1, image, 0));
  ASSERT_EQ(m_port->Answer(), proto::kACK);
  m_port->Write(Packet(3, image, 2048));
  EXPECT_EQ(m_port->Answer(), proto::kCAN);
  devsim::Result r = Finish();
  EXPECT_TRUE(r.ended);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(r.errors.size(), 1u);
}

// --- verification ------------------------------------------------------------------------------

struct VerifyCase {
  const char* name;
  // Changes what is sent (`image` is the file), given the announced length.
  std::function<void(Bytes* sent, size_t* announced, size_t* packets)> alter;
};
void PrintTo(const VerifyCase& c, std::ostream* os) { *os << c.name; }

class VerifyTest : public DevsimTest, public testing::WithParamInterface<VerifyCase> {};

TEST_P(VerifyTest, RejectsWhatDiffersFromTheFile) {
  const Bytes image = MakeImage(2 * 1024 + 300, 5);
  devsim::Options o;
  o.verifyFile = TempFile(image);
  Start(o);
  Bytes sent = image;
  size_t announced = image.size();
  size_t packets = Blocks(image.size(), 1024);
  GetParam().alter(&sent, &announced, &packets);
  ASSERT_TRUE(Begin(static_cast<uint32_t>(announced)));
  for (size_t i = 1; i <= packets; ++i) {
    Bytes p = Packet(static_cast<uint8_t>(i), sent, (i - 1) * 1024);
    m_port->Write(p);
    ASSERT_EQ(m_port->Answer(), proto::kACK);
  }
  m_port->Write({proto::kEOT, proto::kEOT, proto::kEOT, proto::kEOT});
  devsim::Result r = Finish();
  EXPECT_TRUE(r.completed);
  EXPECT_FALSE(r.verified);
  EXPECT_FALSE(r.note.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Differences, VerifyTest,
    testing::Values(
        VerifyCase{"ByteChanged", [](Bytes* s, size_t*, size_t*) { (*s)[1500] ^= 0x20; }},
        VerifyCase{"FillNot1A",  // the image's last bytes sent past its length count as fill
                   [](Bytes* s, size_t*, size_t*) { s->resize(s->size() + 1, 0x00); }},
        VerifyCase{"LengthDiffers", [](Bytes*, size_t* announced, size_t*) { *announced -= 1; }},
        VerifyCase{"LastPacketMissing", [](Bytes*, size_t*, size_t* packets) { *packets -= 1; }},
        VerifyCase{"ExtraPacket", [](Bytes* s, size_t*, size_t* packets) {
                     s->resize(4 * 1024, proto::kPadByte);
                     *packets += 1;
                   }}),
    [](const testing::TestParamInfo<VerifyCase>& info) { return std::string(info.param.name); });

// --- the download command ----------------------------------------------------------------------

struct CommandCase {
  const char* name;
  Bytes frame;
};
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class BadDownloadTest : public DevsimTest, public testing::WithParamInterface<CommandCase> {};

TEST_P(BadDownloadTest, IsRefusedWithNak) {
  Start(devsim::Options());
  m_port->Write(GetParam().frame);
  EXPECT_EQ(m_port->Answer(), proto::kNAK);
  EXPECT_EQ(m_port->Answer(300), kTimeout);  // and no 'C'
  devsim::Result r = Finish();
  EXPECT_FALSE(r.download);
  EXPECT_EQ(r.errors.size(), 1u);
}

Bytes WithChecksum(Bytes f) {
  f[f.size() - 3] = proto::FrameChecksum(&f[1], f.size() - 4);
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, BadDownloadTest,
    testing::Values(
        CommandCase{"Checksum", [] {
                      Bytes f = Download(0x1000, 5000);
                      f[12] ^= 1;
                      return f;
                    }()},
        CommandCase{"Constant", [] {
                      Bytes f = Download(0x1000, 5000);
                      f[11] = 0x03;
                      return WithChecksum(f);
                    }()},
        CommandCase{"PayloadLength", WithChecksum({'$', 'D', 8, 0, 0x10, 0, 0, 0x88, 0x13, 0, 0,
                                                   0, '?', '?'})}),
    [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

// --- injected answers --------------------------------------------------------------------------

struct AnswerCase {
  const char* name;
  Fault fault;
  int packet;
  int count;
  std::vector<int> answers;  // to the download command, then to packet k and its resends
  bool verified;             // the transfer can still be finished and verified
};
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class InjectedAnswerTest : public DevsimTest, public testing::WithParamInterface<AnswerCase> {};

TEST_P(InjectedAnswerTest, AnswersAsInjected) {
  const AnswerCase& c = GetParam();
  const Bytes image = MakeImage(3 * 1024 - 1, 13);
  devsim::Options o;
  o.verifyFile = TempFile(image);
  o.fault = c.fault;
  o.faultPacket = c.packet;
  o.faultCount = c.count;
  Start(o);
  m_port->Write(Query());
  m_port->Chunks(100);
  m_port->Write(Download(0x1000, static_cast<uint32_t>(image.size())));
  ASSERT_EQ(m_port->Answer(), c.answers[0]);
  if (c.answers[0] != proto::kCrcMode) {
    EXPECT_TRUE(Finish().ended);
    return;
  }
  for (int i = 1; i < c.packet; ++i) {
    m_port->Write(Packet(static_cast<uint8_t>(i), image, (i - 1) * 1024));
    ASSERT_EQ(m_port->Answer(), proto::kACK);
  }
  const Bytes k = Packet(static_cast<uint8_t>(c.packet), image, (c.packet - 1) * 1024);
  for (size_t i = 1; i < c.answers.size(); ++i) {
    m_port->Write(k);
    int want = c.answers[i];
    EXPECT_EQ(m_port->Answer(want == kTimeout ? 300 : 3000), want) << "answer " << i;
  }
  if (c.verified) {
    SendRest(image, c.fault == Fault::kRestart ? 1 : c.packet + 1);
    devsim::Result r = Finish();
    EXPECT_TRUE(r.verified) << r.note;
    EXPECT_EQ(r.restarts, c.fault == Fault::kRestart ? 1u : 0u);
  } else {
    devsim::Result r = Finish();
    EXPECT_TRUE(r.ended);
    EXPECT_FALSE(r.verified);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InjectedAnswerTest,
    testing::Values(
        AnswerCase{"NakDownload", Fault::kNakDownload, 1, 1, {proto::kNAK}, false},
        AnswerCase{"NakPacketTwice", Fault::kNakPacket, 2, 2,
                   {proto::kCrcMode, proto::kNAK, proto::kNAK, proto::kACK}, true},
        AnswerCase{"Cancel", Fault::kCancel, 2, 1, {proto::kCrcMode, proto::kCAN}, false},
        AnswerCase{"Garbage", Fault::kGarbage, 3, 1, {proto::kCrcMode, 0x55}, false},
        AnswerCase{"Stop", Fault::kStop, 2, 1, {proto::kCrcMode, kTimeout, kTimeout}, false},
        AnswerCase{"HangUp", Fault::kHangUp, 2, 1, {proto::kCrcMode, kHungUp}, false},
        // The sender starts over at sequence 1 and the device keeps only the second run.
        AnswerCase{"Restart", Fault::kRestart, 1, 1, {proto::kCrcMode, proto::kCrcMode}, true}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

// --- one device, several updates ---------------------------------------------------------------

// The updater closes the port after the EOTs without reading the answers to the last packet
// and to EOT, and reopens it for the next update: the device must still be there, and those
// stale answers must not reach the next handshake.
TEST_F(DevsimTest, ServesUpdatesBackToBackOnReopenedPorts) {
  const Bytes image = MakeImage(2 * 1024 + 77, 17);
  devsim::Options o;
  o.verifyFile = TempFile(image);
  o.major = 2;
  o.minor = 9;
  o.fault = Fault::kCancel;  // the first update fails, the second must not
  o.faultPacket = 2;
  o.faultUpdate = 1;
  Start(o);
  const Bytes reply = {'$', 'V', 3, 2, 9, 1, 'V' + 3 + 2 + 9 + 1, '?', '?'};

  for (int update = 1; update <= 3; ++update) {
    m_port.reset(new Port(m_device->SlavePath()));
    ASSERT_TRUE(m_port->IsOpen()) << "update " << update;
    m_port->Write(Query());
    std::vector<Bytes> chunks = m_port->Chunks(150);
    ASSERT_EQ(chunks.size(), 1u) << "update " << update;
    EXPECT_EQ(chunks[0], reply) << "update " << update;
    m_port->Write(Download(0x1000, static_cast<uint32_t>(image.size())));
    ASSERT_EQ(m_port->Answer(), proto::kCrcMode);
    m_port->Write(Packet(1, image, 0));
    ASSERT_EQ(m_port->Answer(), proto::kACK);
    m_port->Write(Packet(2, image, 1024));
    if (update == 1) {
      ASSERT_EQ(m_port->Answer(), proto::kCAN);
    } else {
      m_port->Write(Packet(3, image, 2048));  // unanswered, as the updater does
      m_port->Write({proto::kEOT, proto::kEOT, proto::kEOT, proto::kEOT});
    }
    ASSERT_TRUE(m_device->WaitDone(3000, update));
  }
  std::vector<devsim::Result> updates = m_device->Updates();
  ASSERT_EQ(updates.size(), 3u);
  EXPECT_FALSE(updates[0].verified);
  EXPECT_TRUE(updates[1].verified) << updates[1].note;
  EXPECT_TRUE(updates[2].verified) << updates[2].note;
  EXPECT_EQ(updates[2].update, 3);
}

// --- the program -------------------------------------------------------------------------------

// Runs the devsim program with `args`, reading its stdout line by line.
class Program {
public:
  explicit Program(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      static std::string exe = DEVSIM_PROGRAM;
      argv.push_back(&exe[0]);
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    m_out = fdopen(out[0], "r");
  }
  ~Program() {
    if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_out) fclose(m_out);
  }
  std::string Line() {
    char buf[1024];
    if (!m_out || !fgets(buf, sizeof buf, m_out)) return "";
    std::string s = buf;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  void Signal(int sig) { kill(m_pid, sig); }
  int Wait() {
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

private:
  pid_t m_pid = -1;
  FILE* m_out = nullptr;
};

std::string ReadLink(const std::string& path) {
  char buf[256];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

TEST(DevsimProgram, ServesThroughItsLinkAndReportsOneLine) {
  const Bytes image = MakeImage(1024 + 9, 19);
  const std::string file = TempFile(image);
  const std::string link = testing::TempDir() + "devsim_com" + std::to_string(getpid());
  Program devsim({"--verify", file, "--link", link, "--major", "4"});
  const std::string slave = devsim.Line();
  ASSERT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
  ASSERT_EQ(ReadLink(link), slave);

  Port port(link);
  ASSERT_TRUE(port.IsOpen());
  port.Write(Query());
  std::vector<Bytes> chunks = port.Chunks(150);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0][3], 4);
  port.Write(Download(0x1000, static_cast<uint32_t>(image.size())));
  ASSERT_EQ(port.Answer(), proto::kCrcMode);
  port.Write(Packet(1, image, 0));
  ASSERT_EQ(port.Answer(), proto::kACK);
  port.Write(Packet(2, image, 1024));
  port.Write({proto::kEOT, proto::kEOT, proto::kEOT, proto::kEOT});

  const std::string summary = devsim.Line();
  EXPECT_NE(summary.find("verified=1 "), std::string::npos) << summary;
  EXPECT_NE(summary.find("length=1033 "), std::string::npos) << summary;
  EXPECT_NE(summary.find("packets=2 "), std::string::npos) << summary;
  EXPECT_EQ(devsim.Wait(), 0);
  EXPECT_EQ(ReadLink(link), "");  // removed on the way out
}

TEST(DevsimProgram, EndsOnSigtermWithoutVerification) {
  const std::string file = TempFile(MakeImage(100, 23));
  const std::string link = testing::TempDir() + "devsim_term" + std::to_string(getpid());
  Program devsim({"--verify", file, "--link", link, "--repeat"});
  ASSERT_FALSE(devsim.Line().empty());
  ASSERT_FALSE(ReadLink(link).empty());
  devsim.Signal(SIGTERM);
  const std::string summary = devsim.Line();
  EXPECT_NE(summary.find("interrupted=1"), std::string::npos) << summary;
  EXPECT_EQ(devsim.Wait(), 1);  // nothing was verified
  EXPECT_EQ(ReadLink(link), "");
}

}  // namespace
