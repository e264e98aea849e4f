// CFLASH: the frame writer, the version handshake and the XMODEM-1K image transfer.
#include "flash/flash.h"

#include <ctime>

namespace {

constexpr int kWriteAttempts = 5;
constexpr int kHandshakePolls = 200;        // 10 ms apart: about two seconds for the reply
constexpr int kHandshakePollMs = 10;
constexpr int kReplyChunk = 16;
constexpr long long kAnswerTimeoutSeconds = 10;
constexpr int kMaxNaksInARow = 10;          // a device that keeps refusing one packet is broken
constexpr int kEotCount = 4;

}  // namespace

BEGIN_MESSAGE_MAP(CFLASH, CWnd)
END_MESSAGE_MAP()

CFLASH::CFLASH()
    : m_block(), m_frame(), m_sequence(1), m_packetHead(proto::kSTX),
      m_blockSize(proto::kMaxBlockSize), m_packetSize(proto::kMaxPacketSize), m_startAddress(0),
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

int CFLASH::OpenImage(uint32_t* length) {
  if (m_file.Open(m_imagePath, CFile::modeRead | CFile::shareDenyNone)) {
    try {
      *length = static_cast<uint32_t>(m_file.GetLength());
      return 1;
    } catch (const CFileException&) {
      m_file.Close();
    }
  }
  Report(STATUS_READ_ERROR, 0);
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
  const long long start = static_cast<long long>(std::time(nullptr));
  for (;;) {
    if (m_line->ReadByte(answer, 0)) return 1;
    if (m_stopRequested.load() ||
        static_cast<long long>(std::time(nullptr)) - start > kAnswerTimeoutSeconds) {
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
  const proto::TransferPlan plan = proto::PlanTransfer(length, m_blockSize);
  int result = 0;
  uint32_t sent = 0;
  int packetLength = 0;
  int naksInARow = 0;

  // Reads the next block and sends it as the next packet; reports its own failure.
  auto sendNextBlock = [&](uint32_t readErrorValue) -> bool {
    if (!ReadImageBlock(m_block, static_cast<unsigned>(m_blockSize))) {
      Report(STATUS_READ_ERROR, readErrorValue);
      return false;
    }
    packetLength = BuildDataPacket(m_block, m_blockSize);
    if (!SendFrame(m_frame, packetLength)) {
      Report(STATUS_LINK_ERROR, 0);
      return false;
    }
    ++sent;
    naksInARow = 0;
    return true;
  };

  const int commandLength = proto::BuildDownloadCommand(m_frame, m_startAddress, length);
  if (!SendFrame(m_frame, commandLength)) {
    Report(STATUS_LINK_ERROR, 0);
    goto finish;
  }
  m_sequence = 1;

  // Every packet, the last one included, waits for its answer; only an ACK of the last
  // packet leads on to the EOT phase.
  while (plan.blocks != 0) {
    uint8_t answer = 0;
    WaitAnswer(&answer);
    if (answer == proto::kCrcMode) {
      // The receiver (re)starts: the whole image goes again from block 1.
      m_sequence = 1;
      sent = 0;
      try {
        m_file.SeekToBegin();
      } catch (const CFileException&) {
        Report(STATUS_READ_ERROR, 0);
        goto finish;
      }
      if (!sendNextBlock(0)) goto finish;
    } else if (answer == proto::kACK) {
      if (sent == plan.blocks) break;
      if (!sendNextBlock(static_cast<uint32_t>(uint64_t(sent) * 100 / plan.blocks))) goto finish;
      const int progress = proto::ProgressAfter(plan, sent);
      if (progress >= 0) Report(STATUS_PROGRESS, static_cast<uint32_t>(progress));
    } else if (answer == proto::kNAK) {
      if (m_frame[0] == proto::kFrameStart && m_frame[1] == proto::kCmdDownload) {
        Report(STATUS_REJECTED, 0);
        goto finish;
      }
      if (++naksInARow >= kMaxNaksInARow || !SendFrame(m_frame, packetLength)) {
        Report(STATUS_LINK_ERROR, 0);
        goto finish;
      }
    } else if (answer == proto::kCAN) {
      Report(STATUS_REJECTED, 0);
      goto finish;
    } else {
      Report(STATUS_LINK_ERROR, 0);
      goto finish;
    }
  }

  // EOT phase: four EOT bytes, no answer read. Not even the first one written is a link
  // failure; a later one lost still leaves the device with the whole image and one EOT.
  m_frame[0] = proto::kEOT;
  for (int eots = 0; eots < kEotCount; ++eots) {
    if (!SendFrame(m_frame, 1)) {
      if (eots == 0) {
        Report(STATUS_LINK_ERROR, 0);
        goto finish;
      }
      break;
    }
  }
  Report(STATUS_FINISHED, 100);
  result = 1;

finish:
  m_file.Close();
  m_line->Close();
  return result;
}
