// zarnflash's output: terminal bars, plain lines, JSON events, the audit log.
#include "tools/zarnflash/output.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "tools/zarnflash/host.h"

using nlohmann::json;

namespace {

constexpr int kJsonFormatVersion = 1;
constexpr int64_t kRedrawMs = 100;
constexpr int kBarWidth = 24;

json Event(const char* name) {
  return json{{"format", "zarnflash"}, {"version", kJsonFormatVersion}, {"event", name},
              {"time", LocalTimestamp()}};
}

void AddPlace(json* event, const DevicePlace& place) {
  (*event)["port"] = place.port;
  if (!place.usbLocation.empty() || !place.vendorId.empty()) {
    (*event)["usb"] = json{{"vendor_id", place.vendorId}, {"product_id", place.productId},
                           {"serial", place.serial}, {"location", place.usbLocation}};
  }
}

std::string Version(int major, int minor) {
  char text[16];
  std::snprintf(text, sizeof text, "V%d.%02d", major, minor);
  return text;
}

// Bytes per second over the wire at `baud`, 8-N-1: ten bits a byte.
double LineRate(unsigned baud) { return baud / 10.0; }

}  // namespace

const char* ExitClassName(ExitCode code) {
  switch (code) {
    case kExitOk: return "ok";
    case kExitUsage: return "usage";
    case kExitNoDevice: return "no-device";
    case kExitPortUnusable: return "port-unusable";
    case kExitLinkError: return "link-error";
    case kExitReadError: return "read-error";
    case kExitRejected: return "rejected";
    case kExitSizeError: return "size-error";
    case kExitInterrupted: return "interrupted";
  }
  return "failure";
}

Output::Output(const OutputSettings& settings, const Image* image)
    : m_mode(settings.mode), m_verbose(settings.verbose), m_logPath(settings.logPath),
      m_baud(settings.baud), m_image(image) {
  if (m_mode == OutputSettings::kAuto && !IsTerminal(stdout)) m_mode = OutputSettings::kPlain;
}

void Output::Emit(const std::string& json) {
  std::fputs(json.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Output::EraseBars() {
  // Up to the first bar, then clear to the end of the screen.
  if (m_barsDrawn) std::printf("\033[%zuF\033[J", m_barsDrawn);
  m_barsDrawn = 0;
}

void Output::DrawBars() {
  for (const Bar& bar : m_bars) std::printf("%s\n", bar.text.c_str());
  m_barsDrawn = m_bars.size();
  std::fflush(stdout);
}

void Output::Line(FILE* stream, const std::string& text) {
  if (m_mode == OutputSettings::kAuto) {
    EraseBars();
    std::fflush(stdout);
    std::fprintf(stream, "zarnflash: %s\n", text.c_str());
    std::fflush(stream);
    DrawBars();
  } else {
    std::fprintf(stream, "zarnflash: %s\n", text.c_str());
    std::fflush(stream);
  }
}

Output::Bar& Output::BarFor(const std::string& port) {
  for (Bar& bar : m_bars)
    if (bar.port == port) return bar;
  m_bars.push_back(Bar{port, port + "  waiting for the device", -1});
  return m_bars.back();
}

void Output::Info(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("info");
    e["message"] = text;
    Emit(e.dump());
  } else if (m_mode != OutputSettings::kQuiet) {
    Line(stdout, text);
  }
}

void Output::Warning(const DevicePlace* place, const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("warning");
    if (place) AddPlace(&e, *place);
    e["message"] = text;
    Emit(e.dump());
  } else if (m_mode != OutputSettings::kQuiet) {
    Line(stderr, "warning: " + (place ? place->port + ": " : std::string()) + text);
  }
}

void Output::Error(const std::string& text, ExitCode code) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("error");
    e["message"] = text;
    e["exit_code"] = static_cast<int>(code);
    e["class"] = ExitClassName(code);
    Emit(e.dump());
  } else {
    Line(stderr, text);
  }
}

void Output::Device(const DevicePlace& place, int major, int minor, int sizeCode,
                    const std::string& problem) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("device");
    AddPlace(&e, place);
    if (problem.empty()) {
      e["firmware"] = json{{"major", major}, {"minor", minor}, {"text", Version(major, minor)}};
      e["size_code"] = sizeCode;
    } else {
      e["problem"] = problem;
    }
    Emit(e.dump());
    return;
  }
  std::string line = place.port;
  if (problem.empty()) {
    char text[64];
    std::snprintf(text, sizeof text, "  firmware %s  flash size code %d", Version(major, minor).c_str(), sizeCode);
    line += text;
  } else {
    line += "  " + problem;
  }
  if (!place.vendorId.empty())
    line += "  usb " + place.vendorId + ":" + place.productId +
            (place.serial.empty() ? "" : " serial " + place.serial);
  if (!place.usbLocation.empty()) line += "  at " + place.usbLocation;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void Output::Finding(bool ok, const std::string& check, const std::string& subject,
                     const std::string& text, const std::string& advice) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("finding");
    e["ok"] = ok;
    e["check"] = check;
    if (!subject.empty()) e["subject"] = subject;
    e["message"] = text;
    if (!advice.empty()) e["advice"] = advice;
    Emit(e.dump());
    return;
  }
  if (ok && m_mode == OutputSettings::kQuiet) return;
  std::printf("%-8s %s%s%s\n", ok ? "ok" : "PROBLEM", text.c_str(), advice.empty() ? "" : " ",
              advice.c_str());
  std::fflush(stdout);
}

void Output::Starting(const DevicePlace& place) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("found");
    AddPlace(&e, place);
    Emit(e.dump());
  } else if (m_mode == OutputSettings::kAuto) {
    BarFor(place.port);
    EraseBars();
    DrawBars();
  } else if (m_mode == OutputSettings::kPlain) {
    Line(stdout, place.port + ": flashing " + m_image->source + " (" +
                     std::to_string(m_image->Length()) + " bytes)");
  }
}

void Output::OnVersion(const DevicePlace& place, int major, int minor) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("version");
    AddPlace(&e, place);
    e["firmware"] = json{{"major", major}, {"minor", minor}, {"text", Version(major, minor)}};
    Emit(e.dump());
  } else if (m_mode != OutputSettings::kQuiet) {
    Line(stdout, place.port + ": device firmware " + Version(major, minor));
  }
}

void Output::OnNoVersionReply(const DevicePlace& place) {
  const std::string text =
      "no valid version reply: taken for an older loader, the image goes to its address "
      "0x1B0000";
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("warning");
    AddPlace(&e, place);
    e["warning"] = "no-version-reply";
    e["message"] = text;
    Emit(e.dump());
  } else if (m_mode != OutputSettings::kQuiet) {
    Line(stderr, "warning: " + place.port + ": " + text);
  }
}

void Output::OnProgress(const DevicePlace& place, uint32_t bytes, uint32_t length, int64_t elapsedMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const int percent = length ? static_cast<int>(uint64_t(bytes) * 100 / length) : 100;
  const double rate = elapsedMs > 0 ? bytes * 1000.0 / elapsedMs : 0;
  const double left = rate > 0 ? (length - bytes) / rate : 0;
  if (m_mode == OutputSettings::kJson) {
    json e = Event("progress");
    AddPlace(&e, place);
    e["bytes"] = bytes;
    e["length"] = length;
    e["percent"] = percent;
    e["rate_bps"] = static_cast<int64_t>(rate);
    e["seconds_left"] = static_cast<int64_t>(left + 0.5);
    Emit(e.dump());
  } else if (m_mode == OutputSettings::kAuto) {
    Bar& bar = BarFor(place.port);
    const int filled = percent * kBarWidth / 100;
    char text[256];
    std::snprintf(text, sizeof text, "%s  [%s%s] %3d%%  %u/%u bytes  %.1f kB/s  %llds left",
                  place.port.c_str(), std::string(static_cast<size_t>(filled), '#').c_str(),
                  std::string(static_cast<size_t>(kBarWidth - filled), '.').c_str(), percent,
                  bytes, length, rate / 1000, static_cast<long long>(left + 0.5));
    bar.text = text;
    const int64_t now = MonotonicMs();
    if (now - m_lastDraw >= kRedrawMs || bytes == length) {
      m_lastDraw = now;
      EraseBars();
      DrawBars();
    }
  } else if (m_mode == OutputSettings::kPlain) {
    Bar& bar = BarFor(place.port);
    const int decile = percent / 10;
    if (decile > bar.lastDecile) {
      bar.lastDecile = decile;
      Line(stdout, place.port + ": " + std::to_string(decile * 10) + "% (" +
                       std::to_string(bytes) + " of " + std::to_string(length) + " bytes)");
    }
  }
}

void Output::OnRestart(const DevicePlace& place) {
  const std::string text = "the device started the transfer over; sending the image again from its start";
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_mode == OutputSettings::kJson) {
    json e = Event("restart");
    AddPlace(&e, place);
    e["message"] = text;
    Emit(e.dump());
  } else if (m_mode != OutputSettings::kQuiet) {
    BarFor(place.port).lastDecile = -1;
    Line(stdout, place.port + ": " + text);
  }
}

void Output::OnTrace(const DevicePlace& place, int64_t elapsedMs, const std::string& text) {
  if (!m_verbose) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%lld.%03lld", static_cast<long long>(elapsedMs / 1000),
                static_cast<long long>(elapsedMs % 1000));
  if (m_mode == OutputSettings::kJson) {
    json e = Event("trace");
    AddPlace(&e, place);
    e["ms"] = elapsedMs;
    e["line"] = text;
    Emit(e.dump());
  } else {
    Line(stderr, place.port + ": " + stamp + " " + text);
  }
}

void Output::OnResult(const DevicePlace& place, const JobResult& r) {
  const double seconds = r.durationMs / 1000.0;
  const double rate = r.durationMs > 0 ? r.bytesAcknowledged * 1000.0 / r.durationMs : 0;
  json stats = {{"packets", r.counts.sent},     {"naks", r.counts.resends},
                {"restarts", r.counts.restarts}, {"timeouts", r.counts.timeouts},
                {"rate_bps", static_cast<int64_t>(rate)},
                {"line_rate_bps", static_cast<int64_t>(LineRate(m_baud))},
                {"efficiency", LineRate(m_baud) > 0 ? rate / LineRate(m_baud) : 0.0}};
  json e = Event("result");
  AddPlace(&e, place);
  e["ok"] = r.code == kExitOk;
  e["exit_code"] = static_cast<int>(r.code);
  e["class"] = ExitClassName(r.code);
  if (!r.sentence.empty()) e["message"] = r.sentence;
  if (r.major >= 0)
    e["firmware"] = json{{"major", r.major}, {"minor", r.minor}, {"text", Version(r.major, r.minor)}};
  e["version_reply"] = r.versionReplied;
  e["bytes"] = r.bytesAcknowledged;
  e["duration_ms"] = r.durationMs;
  e["stats"] = stats;

  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_logPath.empty()) {
    json audit = e;
    int32_t database = 0;
    audit["image"] = json{{"source", m_image->source}, {"length", m_image->Length()},
                          {"sha256", m_image->Sha256()}};
    if (m_image->DatabaseVersion(&database)) audit["image"]["database_version"] = database;
    std::string error;
    if (!AppendLine(m_logPath, audit.dump(), &error)) {
      std::fprintf(stderr, "zarnflash: %s: the audit log misses this result.\n", error.c_str());
    }
  }
  if (m_mode == OutputSettings::kJson) {
    Emit(e.dump());
    return;
  }
  if (r.code == kExitOk) {
    if (m_mode == OutputSettings::kQuiet) return;
    char text[160];
    std::snprintf(text, sizeof text,
                  ": done, %u bytes in %.1f s (%.1f kB/s, %d%% of the line), %u NAKs, %u restarts",
                  r.bytesAcknowledged, seconds, rate / 1000,
                  static_cast<int>(LineRate(m_baud) > 0 ? rate * 100 / LineRate(m_baud) : 0),
                  r.counts.resends, r.counts.restarts);
    Line(stdout, place.port + text);
  } else {
    Line(stderr, place.port + ": failed: " + r.sentence);
  }
}

void Output::Summary(const std::vector<std::pair<DevicePlace, JobResult>>& results) {
  std::lock_guard<std::mutex> lock(m_mutex);
  int failed = 0;
  for (const auto& pr : results) failed += pr.second.code != kExitOk;
  if (m_mode == OutputSettings::kJson) {
    json e = Event("summary");
    e["devices"] = results.size();
    e["failed"] = failed;
    Emit(e.dump());
    return;
  }
  if (m_mode == OutputSettings::kQuiet && failed == 0) return;
  EraseBars();
  m_bars.clear();
  std::printf("%-28s %-14s %8s %10s  %s\n", "port", "result", "seconds", "bytes", "detail");
  for (const auto& pr : results) {
    const JobResult& r = pr.second;
    std::printf("%-28s %-14s %8.1f %10u  %s\n", pr.first.port.c_str(), ExitClassName(r.code),
                r.durationMs / 1000.0, r.bytesAcknowledged,
                r.code == kExitOk ? "" : r.sentence.c_str());
  }
  std::printf("%zu devices, %zu succeeded, %d failed\n", results.size(), results.size() - failed, failed);
  std::fflush(stdout);
}
