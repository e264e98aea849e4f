// CFLASH: the frame writer, the version handshake and the XMODEM-1K image transfer.
#include "flash/flash.h"

#include <chrono>

namespace {

constexpr int kWriteAttempts = 5;
constexpr int kHandshakePolls = 200;        // 10 ms apart: about two seconds for the reply
constexpr int kHandshakePollMs = 10;
constexpr int kReplyChunk = 16;
constexpr long long kAnswerTimeoutSeconds = 10;

// Calendar time in whole seconds, 64 bits wide on every platform (the i686 C runtime's time()
// is 32-bit).
int64_t CalendarSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

BEGIN_MESSAGE_MAP(CFLASH, CWnd)
END_MESSAGE_MAP()

CFLASH::CFLASH()
    : m_block(), m_frame(), m_sequence(1), m_packetHead(proto::kUpdatePacket.head),
      m_blockSize(proto::kUpdatePacket.blockSize), m_packetSize(proto::kUpdatePacket.packetSize),
      m_startAddress(0),
      m_line(&m_port) {}

CFLASH::~CFLASH() { m_port.Close(); }

void CFLASH::Report(int code, uint32_t value) {
  // Once a stop has been asked for, nobody is listening any more.
  if (m_status && !m_stopRequested.load()) m_status->Send(code, value);
}

int CFLASH::SendFrame(const unsigned char* data, int length) {
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if (m_line->Write(data, static_cast<unsigned>(length))) return 1;
    PauseMs(1);
  }
  return 0;
}

int CFLASH::QueryDevice() {
  const int queryLength = proto::BuildVersionQuery(m_frame);
  if (!SendFrame(m_frame, queryLength)) {
    Report(STATUS_LINK_ERROR, 0);
    return 0;
  }
  unsigned char chunk[kReplyChunk];
  unsigned got = m_line->Read(chunk, sizeof chunk);
  for (int polls = 0;;) {
    proto::ReplyScanner scanner(chunk, got);
    proto::VersionReply reply;
    while (scanner.Next(&reply)) {
      uint32_t length = 0;
      if (!OpenImage(&length)) return 0;
      m_file.Close();  // closed before the report: the window reads the header meanwhile
      if (!proto::ImageFits(reply.sizeCode, length)) {
        Report(STATUS_SIZE_ERROR, 0);
        return 0;
      }
      Report(STATUS_DEVICE_VERSION, reply.major * 256u + reply.minor);
      if (reply.major >= 2) {
        m_startAddress = proto::kAddressCurrent;
        return 1;
      }
    }
    if (m_stopRequested.load()) return 0;
    PauseMs(kHandshakePollMs);
    got = m_line->Read(chunk, sizeof chunk);
    if (++polls > kHandshakePolls) {
      m_startAddress = proto::kAddressLegacy;
      return 1;
    }
  }
}

int CFLASH::Crc16(const unsigned char* data, int length) {
  return proto::Crc16(data, static_cast<size_t>(length));
}

int CFLASH::BuildDataPacket(const unsigned char* data, int length) {
  const uint8_t sequence = m_sequence++;
  return proto::BuildPacket(m_frame, m_packetHead, sequence, data, length, m_packetSize);
}

int CFLASH::WaitAnswer(uint8_t* answer) {
  // Waits in slices of at most a second so that a stop request is noticed promptly; the
  // overall limit is the same whole-second rule as one long ReadByte.
  const int64_t start = CalendarSeconds();
  for (;;) {
    if (m_line->ReadByte(answer, 0)) return 1;
    if (m_stopRequested.load() || CalendarSeconds() - start > kAnswerTimeoutSeconds) {
      *answer = 0;
      return 0;
    }
  }
}

int CFLASH::SendImage() {
  uint32_t length = 0;
  if (!OpenImage(&length)) {
    m_line->Close();
    return 0;
  }
  // The sender decides; this loop only moves bytes between the line, the file and it.
  proto::Sender sender(length, m_blockSize);
  m_lastCounts = proto::Sender::Counts();
  int packetLength = 0;
  for (proto::Sender::Step step = sender.Start();;) {
    if (step.reportCode) Report(step.reportCode, step.reportValue);
    switch (step.action) {
      case proto::Sender::Action::kSendCommand: {
        const int n = proto::BuildDownloadCommand(m_frame, m_startAddress, length);
        step = sender.OnWritten(SendFrame(m_frame, n) != 0);
        break;
      }
      case proto::Sender::Action::kWaitAnswer: {
        uint8_t answer = 0;
        step = WaitAnswer(&answer) ? sender.OnAnswer(answer) : sender.OnTimeout();
        break;
      }
      case proto::Sender::Action::kRewindAndReadBlock:
        step = sender.OnBlockRead(RewindImage() &&
                                 ReadImageBlock(m_block, static_cast<unsigned>(m_blockSize)));
        break;
      case proto::Sender::Action::kReadBlock:
        step = sender.OnBlockRead(ReadImageBlock(m_block, static_cast<unsigned>(m_blockSize)) != 0);
        break;
      case proto::Sender::Action::kSendPacket:
        m_sequence = step.sequence;
        packetLength = BuildDataPacket(m_block, m_blockSize);
        step = sender.OnWritten(SendFrame(m_frame, packetLength) != 0);
        break;
      case proto::Sender::Action::kResendPacket:
        step = sender.OnWritten(SendFrame(m_frame, packetLength) != 0);
        break;
      case proto::Sender::Action::kSendEot:
        m_frame[0] = proto::kEOT;
        step = sender.OnWritten(SendFrame(m_frame, 1) != 0);
        break;
      case proto::Sender::Action::kFinish:
        m_lastCounts = sender.GetCounts();
        m_file.Close();
        m_line->Close();
        return step.success ? 1 : 0;
    }
  }
}
