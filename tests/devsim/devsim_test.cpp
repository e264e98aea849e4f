// The device simulator driven through its real pty with raw bytes: the version reply and its
// faults, the XMODEM receiver's answers to good, bad and repeated packets, verification of the
// received image, injected answers and whether they fired, back-to-back updates, an updater
// that goes quiet, and the program: its summary, its link, its signals and its command line.
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

#include "flash/device_codec.h"
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

Bytes Reply(uint8_t major, uint8_t minor, uint8_t sizeCode) {
  Bytes r(proto::kVersionReplyLength);
  proto::BuildVersionReply(r.data(), major, minor, sizeCode);
  return r;
}

// A frame with the right checksum around any payload.
Bytes Frame(uint8_t letter, const Bytes& payload) {
  Bytes f(payload.size() + proto::kFrameOverhead);
  proto::BuildFrame(f.data(), letter, payload.data(), static_cast<int>(payload.size()));
  return f;
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

const Bytes kEots = {proto::kEOT, proto::kEOT, proto::kEOT, proto::kEOT};

// Sends `image` from packet `first` on as the updater does, sending a packet again after a NAK;
// then four EOTs, the first of them ACKed. Returns the NAKs met.
unsigned SendPackets(Port& port, const Bytes& image, size_t first = 1, int block = 1024) {
  unsigned naks = 0;
  for (size_t i = first; i <= Blocks(image.size(), block); ++i) {
    const Bytes p = Packet(static_cast<uint8_t>(i), image, (i - 1) * block, block);
    int answer;
    do {
      port.Write(p);
      answer = port.Answer();
    } while (answer == proto::kNAK && ++naks < 10);
    EXPECT_EQ(answer, proto::kACK) << "packet " << i;
    if (answer != proto::kACK) return naks;
  }
  port.Write(kEots);
  EXPECT_EQ(port.Answer(), proto::kACK);
  return naks;
}

// The updater's whole update of `image` to 0x1000: query, download command, packets, EOTs.
// Returns the NAKs met.
unsigned Update(Port& port, const Bytes& image) {
  port.Write(Query());
  port.Chunks(100);
  port.Write(Download(0x1000, static_cast<uint32_t>(image.size())));
  EXPECT_EQ(port.Answer(), proto::kCrcMode);
  return SendPackets(port, image);
}

class DevsimTest : public testing::Test {
protected:
  void Start(devsim::Options options) {
    m_device.reset(new devsim::Device(options));
    ASSERT_TRUE(m_device->Start()) << m_device->Error();
    m_port.reset(new Port(m_device->SlavePath()));
    ASSERT_TRUE(m_port->IsOpen());
  }

  // A device that compares with `image`, with `fault` at packet `packet` (`count` times for
  // nak-packet) in update `update` (0: in every one).
  void StartWithFault(const Bytes& image, Fault fault, int packet, int count, int update = 0) {
    devsim::Options o;
    o.verifyFile = TempFile(image);
    o.fault = fault;
    o.faultPacket = packet;
    o.faultCount = count;
    o.faultUpdate = update;
    Start(o);
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
    EXPECT_EQ(SendPackets(*m_port, image, first, block), 0u);
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
  const Bytes good = Reply(3, 7, 2);
  m_port->Write(Query());
  GetParam().check(m_port->Chunks(300), good);
  // Whatever the reply, the download command is answered as usual.
  m_port->Write(Download(0x1B0000, 10));
  EXPECT_EQ(m_port->Answer(), proto::kCrcMode);
  const devsim::Result r = m_device->GetResult();
  EXPECT_TRUE(r.versionQuery);
  EXPECT_EQ(r.fault, GetParam().fault);
  EXPECT_EQ(r.faultFired, GetParam().fault != Fault::kNone);
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

INSTANTIATE_TEST_SUITE_P(
    Frames, BadDownloadTest,
    testing::Values(
        CommandCase{"Checksum", [] {
                      Bytes f = Download(0x1000, 5000);
                      f[12] ^= 1;
                      return f;
                    }()},
        CommandCase{"Constant", Frame('D', {0, 0x10, 0, 0, 0x88, 0x13, 0, 0, 0x03})},
        CommandCase{"PayloadLength", Frame('D', {0, 0x10, 0, 0, 0x88, 0x13, 0, 0})}),
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
  StartWithFault(image, c.fault, c.packet, c.count);
  m_port->Write(Query());
  m_port->Chunks(100);
  m_port->Write(Download(0x1000, static_cast<uint32_t>(image.size())));
  ASSERT_EQ(m_port->Answer(), c.answers[0]);
  if (c.answers[0] != proto::kCrcMode) {
    const devsim::Result r = Finish();
    EXPECT_TRUE(r.ended);
    EXPECT_TRUE(r.faultFired);
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
  EXPECT_EQ(m_device->GetResult().fault, c.fault);
  EXPECT_TRUE(m_device->GetResult().faultFired);
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

// Faults that keep the packet: it is stored and ACKed, and the line carries more than the ACK.
struct StoredCase {
  const char* name;
  Fault fault;
  std::vector<Bytes> chunks;  // what arrives after packet 2, one read each
};
void PrintTo(const StoredCase& c, std::ostream* os) { *os << c.name; }

class StoredFaultTest : public DevsimTest, public testing::WithParamInterface<StoredCase> {};

TEST_P(StoredFaultTest, KeepsThePacketAndAddsItsBytes) {
  const StoredCase& c = GetParam();
  const Bytes image = MakeImage(3 * 1024 - 1, 17);
  StartWithFault(image, c.fault, 2, 1);
  ASSERT_TRUE(Begin(static_cast<uint32_t>(image.size())));
  m_port->Write(Packet(1, image, 0));
  ASSERT_EQ(m_port->Answer(), proto::kACK);
  m_port->Write(Packet(2, image, 1024));
  EXPECT_EQ(m_port->Chunks(300), c.chunks);
  SendRest(image, 3);
  const devsim::Result r = Finish();
  EXPECT_TRUE(r.verified) << r.note;
  EXPECT_EQ(r.fault, c.fault);
  EXPECT_TRUE(r.faultFired);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StoredFaultTest,
    testing::Values(
        StoredCase{"DuplicateAck", Fault::kDuplicateAck, {{proto::kACK, proto::kACK}}},
        StoredCase{"StrayAck", Fault::kStrayAck, {{0x7E, 0xFF, 0x11, proto::kACK}}},
        StoredCase{"NoiseBetween", Fault::kNoiseBetween, {{proto::kACK}, {0x7E, 0xFF, 0x11}}}),
    [](const testing::TestParamInfo<StoredCase>& info) { return std::string(info.param.name); });

TEST_F(DevsimTest, HangUpAtTheQueryClosesTheLine) {
  const Bytes image = MakeImage(1024, 3);
  StartWithFault(image, Fault::kHangUpQuery, 1, 1);
  m_port->Write(Query());
  EXPECT_EQ(m_port->Answer(), kHungUp);
  const devsim::Result r = Finish();
  EXPECT_TRUE(r.versionQuery);
  EXPECT_TRUE(r.faultFired);
  EXPECT_EQ(r.note, "hung up at the version query");
  EXPECT_TRUE(m_device->Gone());
}

// A fault whose moment never comes changes nothing, and the update says so: a test that relies
// on a fault can tell that it happened.
struct UnfiredCase {
  const char* name;
  Fault fault;
  int packet;
  int count;
  int update;
  Fault armed;  // the fault the update reports
};
void PrintTo(const UnfiredCase& c, std::ostream* os) { *os << c.name; }

class UnfiredFaultTest : public DevsimTest, public testing::WithParamInterface<UnfiredCase> {};

TEST_P(UnfiredFaultTest, LeavesTheUpdateWholeAndSaysItNeverFired) {
  const UnfiredCase& c = GetParam();
  const Bytes image = MakeImage(3 * 1024 - 1, 29);
  StartWithFault(image, c.fault, c.packet, c.count, c.update);
  EXPECT_EQ(Update(*m_port, image), 0u);
  const devsim::Result r = Finish();
  EXPECT_TRUE(r.verified) << r.note;
  EXPECT_EQ(r.restarts, 0u);
  EXPECT_EQ(r.fault, c.armed);
  EXPECT_FALSE(r.faultFired);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UnfiredFaultTest,
    testing::Values(
        UnfiredCase{"CancelPastTheLastPacket", Fault::kCancel, 5000, 1, 0, Fault::kCancel},
        UnfiredCase{"RestartPastTheLastPacket", Fault::kRestart, 4, 1, 0, Fault::kRestart},
        UnfiredCase{"NakPacketNoTimes", Fault::kNakPacket, 2, 0, 0, Fault::kNakPacket},
        UnfiredCase{"HangUpInAnotherUpdate", Fault::kHangUp, 1, 1, 2, Fault::kNone},
        UnfiredCase{"SilentInAnotherUpdate", Fault::kSilent, 1, 1, 3, Fault::kNone}),
    [](const testing::TestParamInfo<UnfiredCase>& info) { return std::string(info.param.name); });

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
  const Bytes reply = Reply(2, 9, 1);

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

// Runs the devsim program with `args`, reading its stdout line by line and its stderr whole.
class Program {
public:
  explicit Program(std::vector<std::string> args) {
    // Close-on-exec, so that a second program started meanwhile holds no end of these pipes.
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
      close(out[0]);
      close(out[1]);
      return;
    }
    m_pid = fork();
    if (m_pid == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      std::vector<char*> argv;
      static std::string exe = DEVSIM_PROGRAM;
      argv.push_back(&exe[0]);
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
  }
  ~Program() {
    if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) close(m_out);
    if (m_err >= 0) close(m_err);
  }
  // The next line of stdout; "" at its end, or when none came within `ms`.
  std::string Line(int ms = 20000) {
    std::string s;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
      pollfd p = {m_out, POLLIN, 0};
      char c;
      if (left <= 0 || poll(&p, 1, left) <= 0 || read(m_out, &c, 1) != 1) return "";
      if (c == '\n') return s;
      s += c;
    }
  }
  // The rest of stdout, and everything written to stderr: to their ends, the program's exit.
  std::string Output() { return ReadToEnd(m_out); }
  std::string Errors() { return ReadToEnd(m_err); }
  void Signal(int sig) { kill(m_pid, sig); }
  int Wait() {
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

private:
  static std::string ReadToEnd(int fd) {
    std::string s;
    char buf[512];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
  }

  pid_t m_pid = -1;
  int m_out = -1;
  int m_err = -1;
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

// The value of `key` in a summary line, "" when it is absent; a quoted note keeps its spaces.
std::string Field(const std::string& summary, const std::string& key) {
  const std::string k = " " + key + "=";
  size_t at = summary.find(k);
  if (at == std::string::npos) return "";
  at += k.size();
  if (at < summary.size() && summary[at] == '"')
    return summary.substr(at + 1, summary.find('"', at + 1) - at - 1);
  return summary.substr(at, summary.find(' ', at) - at);
}

// The updater gone (its port closed) at some point of an update: the device ends the update
// after a few seconds, incomplete, with what had arrived; devsim --once then reports and exits.
struct QuietCase {
  const char* name;
  std::function<void(Port&, const Bytes& image)> lastWords;
  unsigned packets;
  const char* download;
  const char* note;
};
void PrintTo(const QuietCase& c, std::ostream* os) { *os << c.name; }

class QuietUpdaterTest : public testing::TestWithParam<QuietCase> {};

TEST_P(QuietUpdaterTest, EndsTheUpdateAsIncomplete) {
  const QuietCase& c = GetParam();
  const Bytes image = MakeImage(5 * 1024, 31);
  Program devsim({"--verify", TempFile(image)});
  const std::string slave = devsim.Line();
  ASSERT_FALSE(slave.empty());
  {
    Port port(slave);
    ASSERT_TRUE(port.IsOpen());
    c.lastWords(port, image);
  }
  const std::string summary = devsim.Line();
  ASSERT_FALSE(summary.empty()) << "the update never ended";
  EXPECT_EQ(Field(summary, "ended"), "1") << summary;
  EXPECT_EQ(Field(summary, "completed"), "0") << summary;
  EXPECT_EQ(Field(summary, "verified"), "0") << summary;
  EXPECT_EQ(Field(summary, "quiet"), "1") << summary;
  EXPECT_EQ(Field(summary, "download"), c.download) << summary;
  EXPECT_EQ(Field(summary, "packets"), std::to_string(c.packets)) << summary;
  EXPECT_EQ(Field(summary, "bytes"), std::to_string(c.packets * 1024)) << summary;
  EXPECT_EQ(Field(summary, "note"), c.note) << summary;
  EXPECT_EQ(devsim.Wait(), 1);
}

// Query, download command, then `packets` packets, each ACKed.
void UpdateUpTo(Port& port, const Bytes& image, size_t packets) {
  port.Write(Query());
  port.Chunks(100);
  port.Write(Download(0x1000, static_cast<uint32_t>(image.size())));
  ASSERT_EQ(port.Answer(), proto::kCrcMode);
  for (size_t i = 1; i <= packets; ++i) {
    port.Write(Packet(static_cast<uint8_t>(i), image, (i - 1) * 1024));
    ASSERT_EQ(port.Answer(), proto::kACK);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Gone, QuietUpdaterTest,
    testing::Values(
        QuietCase{"AfterTheVersionQuery",
                  [](Port& port, const Bytes&) {
                    port.Write(Query());
                    port.Chunks(100);
                  },
                  0, "0", "updater went quiet before the download command"},
        QuietCase{"BetweenPackets",
                  [](Port& port, const Bytes& image) { UpdateUpTo(port, image, 2); }, 2, "1",
                  "updater went quiet after 2 packets"},
        QuietCase{"InsideAPacket",  // the device NAKs the cut packet, to nobody
                  [](Port& port, const Bytes& image) {
                    UpdateUpTo(port, image, 1);
                    const Bytes p = Packet(2, image, 1024);
                    port.Write(Bytes(p.begin(), p.begin() + 600));
                  },
                  1, "1", "updater went quiet after 1 packets"}),
    [](const testing::TestParamInfo<QuietCase>& info) { return std::string(info.param.name); });

// SIGTERM while the device still counts the EOTs after a completed transfer: the update is
// reported as it would have been a moment later, not as an interrupted one.
TEST(DevsimProgram, StopRightAfterACompletedUpdateReportsItVerified) {
  const Bytes image = MakeImage(2 * 1024 + 5, 37);
  Program devsim({"--verify", TempFile(image), "--repeat"});
  const std::string slave = devsim.Line();
  ASSERT_FALSE(slave.empty());
  Port port(slave);
  ASSERT_TRUE(port.IsOpen());
  EXPECT_EQ(Update(port, image), 0u);
  devsim.Signal(SIGTERM);
  const std::string summary = devsim.Line();
  EXPECT_EQ(Field(summary, "completed"), "1") << summary;
  EXPECT_EQ(Field(summary, "verified"), "1") << summary;
  EXPECT_EQ(Field(summary, "bytes"), std::to_string(image.size())) << summary;
  EXPECT_EQ(summary.find("interrupted"), std::string::npos) << summary;
  EXPECT_EQ(devsim.Output(), "");  // one update, one line
  EXPECT_EQ(devsim.Wait(), 0);
}

TEST(DevsimProgram, SummarySaysWhetherTheFaultFired) {
  const struct {
    std::vector<std::string> fault;
    const char *name, *fired, *naks;
  } cases[] = {
      {{"--fault", "nak-packet", "--fault-packet", "2"}, "nak-packet", "1", "1"},
      {{"--fault", "nak-packet", "--fault-packet", "5000"}, "nak-packet", "0", "0"},
      {{}, "none", "0", "0"},
  };
  const Bytes image = MakeImage(3 * 1024, 41);
  const std::string file = TempFile(image);
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--verify", file};
    args.insert(args.end(), c.fault.begin(), c.fault.end());
    Program devsim(args);
    Port port(devsim.Line());
    ASSERT_TRUE(port.IsOpen());
    Update(port, image);
    const std::string summary = devsim.Line();
    EXPECT_EQ(Field(summary, "verified"), "1") << summary;
    EXPECT_EQ(Field(summary, "fault"), c.name) << summary;
    EXPECT_EQ(Field(summary, "fired"), c.fired) << summary;
    EXPECT_EQ(Field(summary, "naks"), c.naks) << summary;
    EXPECT_EQ(Field(summary, "quiet"), "0") << summary;
    // The fields scripts already read keep their places; the new ones follow them.
    const size_t errors = summary.find(" errors="), fault = summary.find(" fault=");
    EXPECT_EQ(summary.rfind("devsim: update=1 ended=1 completed=1 verified=1 bytes=", 0), 0u);
    EXPECT_NE(errors, std::string::npos);
    EXPECT_LT(errors, fault);
    EXPECT_LT(fault, summary.find(" fired="));
    EXPECT_LT(summary.find(" fired="), summary.find(" quiet="));
    EXPECT_EQ(devsim.Wait(), 0);
  }
}

// The devsim behind `link` answers the version query through it, and removes it when it ends.
void ExpectServesThenLeaves(Program& devsim, const std::string& link) {
  Port port(link);
  ASSERT_TRUE(port.IsOpen());
  port.Write(Query());
  EXPECT_EQ(port.Chunks(150), std::vector<Bytes>{Reply(2, 5, 1)});
  devsim.Signal(SIGTERM);
  devsim.Wait();
  EXPECT_EQ(ReadLink(link), "");
}

TEST(DevsimProgram, RefusesALinkThatALiveDevsimHolds) {
  const std::string link = testing::TempDir() + "devsim_held" + std::to_string(getpid());
  Program first({"--link", link, "--repeat"});
  const std::string slave = first.Line();
  ASSERT_EQ(ReadLink(link), slave);

  Program second({"--link", link, "--repeat"});
  ASSERT_EQ(second.Line(), "");
  EXPECT_EQ(second.Wait(), 2);
  EXPECT_NE(second.Errors().find("held by a running devsim"), std::string::npos);
  EXPECT_EQ(ReadLink(link), slave);

  ExpectServesThenLeaves(first, link);  // the first one still serves through it
}

TEST(DevsimProgram, ReplacesTheLinkOfADevsimThatCrashed) {
  const std::string link = testing::TempDir() + "devsim_stale" + std::to_string(getpid());
  Program crashed({"--link", link, "--repeat"});
  const std::string old = crashed.Line();
  ASSERT_FALSE(old.empty());
  crashed.Signal(SIGKILL);
  crashed.Wait();
  ASSERT_EQ(ReadLink(link), old);  // left behind, with nobody behind it

  Program next({"--link", link, "--repeat"});
  const std::string slave = next.Line();
  ASSERT_FALSE(slave.empty()) << next.Errors();
  EXPECT_EQ(ReadLink(link), slave);
  ExpectServesThenLeaves(next, link);
}

TEST(DevsimProgram, HelpSaysWhatEachFaultDoes) {
  Program devsim({"--help"});
  const std::string help = devsim.Output();
  EXPECT_EQ(devsim.Wait(), 0);
  for (const std::string& name : devsim::FaultNames()) {
    devsim::Fault fault;
    ASSERT_TRUE(devsim::ParseFault(name, &fault));
    const std::string text = devsim::FaultHelp(fault);
    EXPECT_GT(text.size(), name.size()) << name;
    const size_t at = help.find("\n  " + name + " ");
    ASSERT_NE(at, std::string::npos) << name << " is not listed:\n" << help;
    const size_t end = help.find('\n', at + 1);
    const std::string line = help.substr(at + 1, end - at - 1);
    EXPECT_EQ(line.substr(line.size() - text.size()), text) << line;
  }
}

TEST(DevsimProgram, OptionRangeErrorsNameTheirBounds) {
  const struct {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"--fault-packet", "0"}, "--fault-packet: Value 0 not in range 1 to 1000000"},
      {{"--fault-count", "-1"}, "--fault-count: Value -1 not in range 0 to 1000000"},
      {{"--fault-update", "-1"}, "--fault-update: Value -1 not in range 0 to 1000000"},
      {{"--rate", "-5"}, "--rate: Value -5 not in range 0 to 100000000"},
      {{"--latency-us", "-1"}, "--latency-us: Value -1 not in range 0 to 60000000"},
      {{"--major", "256"}, "--major: Value 256 not in range 0 to 255"},
  };
  for (const auto& c : cases) {
    Program devsim(c.args);
    EXPECT_EQ(devsim.Output(), "") << c.error;
    EXPECT_NE(devsim.Wait(), 0) << c.error;
    const std::string errors = devsim.Errors();
    EXPECT_EQ(errors.substr(0, errors.find('\n')), c.error);
  }
}

}  // namespace
