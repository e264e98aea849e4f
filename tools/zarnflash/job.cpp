// One device's update: the loader on a thread of its own, its reports and the line's events
// turned into zarnflash events, and the outcome in one sentence.
#include "tools/zarnflash/job.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "flash/flash.h"
#include "tools/zarnflash/discovery/port_diagnosis.h"
#include "tools/zarnflash/discovery/port_open.h"
#include "tools/zarnflash/host.h"
#include "tools/zarnflash/report_text.h"
#include "tools/zarnflash/watched_line.h"

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace

// Everything the job's thread works with; made before the thread so that Stop can reach the
// loader at any time.
struct Job::State : public StatusChannel, public LineListener {
  Job* job = nullptr;
  CFLASH flash;
  std::unique_ptr<WatchedLine> line;
  int64_t start = 0;
  int lastError = 0;           // the last failure report of the loader
  bool finished = false;
  bool hungUp = false;
  uint32_t acknowledged = 0;   // packets of the current pass acknowledged

  int64_t Elapsed() const { return MonotonicMs() - start; }

  void Send(int code, uint32_t value) override {
    if (job->m_settings.trace) OnTrace("report: " + DescribeReport(code, value));
    switch (code) {
      case STATUS_DEVICE_VERSION:
        job->m_result.major = static_cast<int>((value >> 8) & 0xFF);
        job->m_result.minor = static_cast<int>(value & 0xFF);
        if (job->m_result.major >= 2) job->m_result.versionReplied = true;
        job->m_listener->OnVersion(job->m_place, job->m_result.major, job->m_result.minor);
        break;
      case STATUS_FINISHED:
        finished = true;
        break;
      case STATUS_PROGRESS:
      case STATUS_RESET:
        break;  // progress is counted from the device's acknowledgements instead
      default:
        lastError = code;
        break;
    }
  }

  void OnTrace(const std::string& text) override { job->m_listener->OnTrace(job->m_place, Elapsed(), text); }
  void OnAcknowledged(uint32_t packets) override {
    acknowledged = packets;
    const uint32_t length = job->m_image->Length();
    const uint64_t bytes = uint64_t(packets) * proto::kUpdatePacket.blockSize;
    job->m_result.bytesAcknowledged = bytes < length ? static_cast<uint32_t>(bytes) : length;
    job->m_listener->OnProgress(job->m_place, job->m_result.bytesAcknowledged, length, Elapsed());
  }
  void OnRestart() override {
    acknowledged = 0;
    job->m_result.bytesAcknowledged = 0;
    job->m_listener->OnRestart(job->m_place);
  }
  void OnHangUp() override {
    hungUp = true;
    flash.RequestStop();  // nothing more will come: do not wait out the answer time-out
  }
};

Job::Job(DevicePlace place, const Image* image, JobSettings settings, JobListener* listener)
    : m_place(std::move(place)), m_image(image), m_settings(settings), m_listener(listener),
      m_state(new State) {
  m_state->job = this;
}

Job::~Job() {
  Stop();
  Join();
}

void Job::Start() { m_thread = std::thread(&Job::Run, this); }

void Job::Stop() {
  m_stop.store(true);
  m_state->flash.RequestStop();
}

void Job::Join() {
  if (m_thread.joinable()) m_thread.join();
}

void Job::Run() {
  State& s = *m_state;
  JobResult& r = m_result;
  const std::string& port = m_place.port;
  s.start = MonotonicMs();
  CFLASH& flash = s.flash;

  OpenFailure failure;
  const int opened = OpenPort(&flash.m_port, port, m_settings.baud, &failure);
  if (!opened) {
    r.code = kExitPortUnusable;
    r.sentence = Format("cannot open %s: %s. ", port.c_str(), failure.text.c_str()) +
                 DiagnoseOpenFailure(port, failure).advice;
  }

  if (opened) {
    s.line.reset(new WatchedLine(&flash.m_port, proto::kUpdatePacket.packetSize, &s, m_settings.trace));
    flash.UseLine(s.line.get());
    flash.SetStatusChannel(&s);
    flash.SetImagePath(WidePath(m_image->path).c_str());
    flash.m_packetHead = proto::kUpdatePacket.head;
    flash.m_blockSize = proto::kUpdatePacket.blockSize;
    flash.m_packetSize = proto::kUpdatePacket.packetSize;
    if (m_stop.load()) flash.RequestStop();

    bool go = flash.QueryDevice() != 0;
    if (go && !r.versionReplied) {
      m_listener->OnNoVersionReply(m_place);
      if (m_settings.requireVersion) {
        go = false;
        r.code = kExitLinkError;
        r.sentence = Format(
            "%s gave no valid version reply within 2 seconds; not flashed, as --require-version "
            "asks. Check that the device is in its loader and that nothing else uses the port.",
            port.c_str());
      }
    } else if (!go) {
      s.lastError = s.lastError ? s.lastError : STATUS_LINK_ERROR;
    }
    if (go) {
      r.transferStarted = true;
      s.finished = flash.SendImage() != 0;
      r.counts = flash.LastTransferCounts();
    }
    flash.m_port.Close();
    flash.UseLine(nullptr);

    // The packet a failure concerns: the one whose answer went wrong, or the next one when a
    // block could not be read or a packet not written.
    const uint32_t answered = r.counts.sent ? r.counts.sent : 1;
    const uint32_t next = r.counts.sent + 1;
    proto::VersionReply reply = {};
    if (m_stop.load()) {
      r.code = kExitInterrupted;
      r.sentence = r.transferStarted
                       ? Format("interrupted at packet %u; the device does not hold the whole "
                                "image: flash it again.", answered)
                       : "interrupted before the transfer began.";
    } else if (s.hungUp) {
      r.code = kExitLinkError;
      r.sentence = Format("%s disconnected%s. Check the cable and the device, then flash again.",
                          port.c_str(),
                          r.transferStarted ? Format(" at packet %u", answered).c_str()
                                            : " during the version handshake");
    } else if (r.sentence.empty() && !s.finished && r.code == kExitOk) {
      switch (s.lastError) {
        case STATUS_SIZE_ERROR:
          r.code = kExitSizeError;
          if (s.line->LastReply(&reply) && proto::FlashSizeLimit(reply.sizeCode))
            r.sentence = Format("the image (%u bytes) is larger than the device's flash allows "
                                "(size code %u: %u bytes). Use an image made for this device.",
                                m_image->Length(), reply.sizeCode,
                                proto::FlashSizeLimit(reply.sizeCode));
          else
            r.sentence = Format("the device reported an unknown flash size code (%u); nothing "
                                "was written. Check the device's firmware.",
                                s.line->LastReply(&reply) ? reply.sizeCode : 0u);
          break;
        case STATUS_READ_ERROR:
          r.code = kExitReadError;
          r.sentence = Format("cannot read the image file %s%s. Check the file and try again.",
                              m_image->path.c_str(),
                              r.transferStarted ? Format(" at packet %u", next).c_str() : "");
          break;
        case STATUS_REJECTED:
          r.code = kExitRejected;
          r.sentence = r.counts.sent == 0
                           ? Format("the device refused the download command (NAK). Check that "
                                    "the image is meant for this device.")
                           : Format("the device cancelled the transfer at packet %u (CAN). "
                                    "Check that the image is meant for this device, then try again.",
                                    answered);
          break;
        default: {
          r.code = kExitLinkError;
          const uint8_t answer = s.line->LastAnswer();
          if (!r.transferStarted)
            r.sentence = Format("could not write the version query to %s. Check the port.", port.c_str());
          else if (r.counts.timeouts)
            r.sentence = Format("no answer from the device for 10 seconds at packet %u. Check "
                                "the cable and that the device is in its loader, then flash again.",
                                answered);
          else if (answer == proto::kNAK)
            r.sentence = Format("the device refused packet %u %d times in a row. Check the cable "
                                "or try a lower --baud.", answered, proto::kMaxNaksInARow);
          else if (answer != proto::kACK && answer != proto::kCrcMode && answer != 0)
            r.sentence = Format("the device answered packet %u with %s instead of ACK. Check the "
                                "cable or try a lower --baud.", answered, AnswerName(answer).c_str());
          else
            r.sentence = Format("could not write packet %u to %s. Check the cable and the port.",
                                next, port.c_str());
          break;
        }
      }
    }
  }
  r.durationMs = s.Elapsed();
  if (r.sentence.empty() && !s.finished && r.code == kExitOk) {
    r.code = kExitLinkError;
    r.sentence = "the update did not finish.";
  }
  m_listener->OnResult(m_place, r);
}
