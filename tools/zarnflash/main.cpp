// zarnflash: writes an update image into devices on serial ports, for production lines,
// service benches and scripts. Subcommands: list, flash, watch, info, doctor. The exit code
// says how it went (see exit_codes.h); every failure is one sentence a user can act on.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "flash/protocol.h"
#include "tools/zarnflash/discovery/discovery.h"
#include "tools/zarnflash/discovery/doctor.h"
#include "tools/zarnflash/discovery/monitor.h"
#include "tools/zarnflash/exit_codes.h"
#include "tools/zarnflash/image.h"
#include "tools/zarnflash/image_info.h"
#include "tools/zarnflash/job.h"
#include "tools/zarnflash/output.h"

namespace {

std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

// Largest image any device takes: the largest flash, 16 MiB less 4096 bytes.
const uint32_t kLargestImage = proto::FlashSizeLimit(3);

struct Options {
  OutputSettings output;
  std::string imageFile;
  std::vector<std::string> ports;     // --port
  CandidateFilter find;               // --ports, --usb, --probe-all
  std::string usbId;
  bool all = false;
  bool requireVersion = false;
  std::string infoFile;
};

// The built-in image when `file` is empty, else the file; a read error is said and returned.
int ReadImage(const std::string& file, Image* image, Output* out) {
  std::string error;
  const int ok = file.empty() ? LoadBuiltInImage(image, &error) : LoadImageFile(file, image, &error);
  if (ok) return kExitOk;
  out->Error(error + ". Check the path and that the file is readable.", kExitReadError);
  return kExitReadError;
}

// The image to send, refused before a byte is sent when no device could take it.
int LoadImage(const Options& o, Image* image, Output* out) {
  const int code = ReadImage(o.imageFile, image, out);
  if (code != kExitOk) return code;
  if (image->Length() == 0) {
    out->Error(image->source + " is empty: there is nothing to write. Give an image file "
               "with --image.", kExitSizeError);
    return kExitSizeError;
  }
  if (image->bytes.size() > kLargestImage) {
    out->Error(image->source + " has " + std::to_string(image->bytes.size()) +
                   " bytes, more than any device's flash takes (" +
                   std::to_string(kLargestImage) + "). Check that it is an update image.",
               kExitSizeError);
    return kExitSizeError;
  }
  return kExitOk;
}

// Runs one job per place at once and waits for them all; Ctrl-C stops them at their next
// answer. Returns the exit code of the first failed place, in order.
int RunJobs(const std::vector<DevicePlace>& places, const Image& image, const Options& o,
            Output* out, std::vector<std::pair<DevicePlace, JobResult>>* results) {
  JobSettings settings;
  settings.baud = o.output.baud;
  settings.requireVersion = o.requireVersion;
  settings.trace = o.output.verbose;
  std::vector<std::unique_ptr<Job>> jobs;
  for (const DevicePlace& place : places) {
    jobs.emplace_back(new Job(place, &image, settings, out));
    out->Starting(place);
  }
  for (auto& job : jobs) job->Start();
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    while (!done.load()) {
      if (g_interrupted.load())
        for (auto& job : jobs) job->Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  for (auto& job : jobs) job->Join();
  done.store(true);
  stopper.join();
  int code = kExitOk;
  for (auto& job : jobs) {
    results->emplace_back(job->Place(), job->Result());
    if (code == kExitOk && job->Result().code != kExitOk) code = job->Result().code;
  }
  if (g_interrupted.load()) code = kExitInterrupted;
  return code;
}

// What a port that did not open says in a list: the reason, who holds it, what to do.
std::string OpenProblem(const PortReport& r) {
  std::string text = "cannot open: " + r.probe.failure.text;
  for (const PortHolder& h : r.diagnosis.holders)
    if (h.locksPort) text += "; held by " + h.command + " (pid " + std::to_string(h.pid) + ")";
  if (r.diagnosis.groupKnown) text += "; owned by group " + r.diagnosis.group.name;
  return text + ". " + r.diagnosis.advice;
}

// Every candidate probed; 0 and a sentence when the candidates cannot be found.
int FindDevices(const Options& o, Output* out, std::vector<PortReport>* reports) {
  std::string error;
  if (!ListPorts(o.find, reports, &error)) {
    out->Error("cannot look for devices: " + error + ".", kExitNoDevice);
    return 0;
  }
  return 1;
}

int List(const Options& o, Output* out) {
  std::vector<PortReport> reports;
  if (!FindDevices(o, out, &reports)) return kExitNoDevice;
  int devices = 0, unusable = 0;
  for (const PortReport& r : reports) {
    if (r.probe.outcome == ProbeResult::kDevice) {
      out->Device(r.candidate, r.probe.major, r.probe.minor, r.probe.sizeCode, "");
      ++devices;
    } else if (r.probe.outcome == ProbeResult::kCannotOpen) {
      out->Device(r.candidate, 0, 0, 0, OpenProblem(r));
      ++unusable;
    }
  }
  if (devices == 0 && unusable == 0) {
    out->Error("no device found. Check that it is plugged in and in its loader; zarnflash "
               "doctor tells what keeps this host from reaching it.", kExitNoDevice);
    return kExitNoDevice;
  }
  return devices ? kExitOk : kExitPortUnusable;
}

int Flash(const Options& o, Output* out) {
  Image image;
  int code = LoadImage(o, &image, out);
  if (code != kExitOk) return code;
  out->SetImage(&image);
  std::vector<DevicePlace> places;
  for (const std::string& port : o.ports) {
    DevicePlace place;
    place.port = port;
    places.push_back(place);
  }
  if (places.empty()) {
    std::vector<PortReport> reports;
    if (!FindDevices(o, out, &reports)) {
      ReleaseImage(&image);
      return kExitNoDevice;
    }
    std::vector<std::string> names;
    for (const PortReport& r : reports) {
      if (r.probe.outcome == ProbeResult::kDevice) {
        places.push_back(r.candidate);
        names.push_back(r.candidate.port);
      } else if (r.probe.outcome == ProbeResult::kCannotOpen) {
        out->Warning(&r.candidate, OpenProblem(r));
      }
    }
    if (places.empty()) {
      ReleaseImage(&image);
      out->Error("no device found. Plug one in (in its loader), name its port with --port, or "
                 "run zarnflash doctor.", kExitNoDevice);
      return kExitNoDevice;
    }
    if (places.size() > 1 && !o.all) {
      std::string list;
      for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
      ReleaseImage(&image);
      out->Error("found " + std::to_string(places.size()) + " devices (" + list +
                     "): name one with --port, or flash them all with --all.", kExitNoDevice);
      return kExitNoDevice;
    }
  }
  std::vector<std::pair<DevicePlace, JobResult>> results;
  code = RunJobs(places, image, o, out, &results);
  if (results.size() > 1) out->Summary(results);
  ReleaseImage(&image);
  return code;
}

int Watch(const Options& o, Output* out) {
  Image image;
  int code = LoadImage(o, &image, out);
  if (code != kExitOk) return code;
  out->SetImage(&image);
  // Ports a simulator or an unusual adapter makes raise no system events: with --ports the
  // patterns are polled instead.
  std::string error;
  std::unique_ptr<PortMonitor> monitor =
      o.find.patterns.empty() ? MakeSystemMonitor(o.find, &error) : MakePatternMonitor(o.find.patterns);
  if (!monitor) {
    ReleaseImage(&image);
    out->Error("cannot watch for devices: " + error + ".", kExitNoDevice);
    return kExitNoDevice;
  }
  out->Info("waiting for devices; Ctrl-C ends");
  std::vector<std::pair<DevicePlace, JobResult>> results;
  std::map<std::string, int> served;  // station slots (USB location, else port) flashed so far
  while (!g_interrupted.load()) {
    Candidate arrived;
    if (!monitor->NextAdded(&arrived, kMonitorPollMs)) continue;
    ProbeResult probe;
    ProbePort(arrived.port, &probe);
    if (probe.outcome == ProbeResult::kCannotOpen) {
      out->Warning(&arrived, "cannot open: " + probe.failure.text + ". " +
                                 DiagnoseOpenFailure(arrived.port, probe.failure).advice);
      continue;
    }
    if (probe.outcome != ProbeResult::kDevice) continue;  // something else on that port
    const std::string key = DeviceKey(arrived);
    if (served[key]++) out->Info(key + ": replugged, flashing again");
    std::vector<std::pair<DevicePlace, JobResult>> one;
    RunJobs({arrived}, image, o, out, &one);
    results.insert(results.end(), one.begin(), one.end());
  }
  out->Summary(results);
  ReleaseImage(&image);
  return kExitInterrupted;
}

int Info(const Options& o, Output* out) {
  Image image;
  const int code = ReadImage(o.infoFile, &image, out);
  if (code != kExitOk) return code;
  PrintImageInfo(image, out->Json());
  ReleaseImage(&image);
  return kExitOk;
}

int Doctor(const Options& o, Output* out) {
  std::vector<Candidate> candidates;
  std::string error;
  if (!FindCandidates(o.find, &candidates, &error)) {
    out->Error("cannot look for ports: " + error + ".", kExitNoDevice);
    return kExitNoDevice;
  }
  DoctorOptions options;
  options.haveUsbId = o.find.narrowToId;
  options.usbId = o.find.id;
  std::vector<Finding> findings;
  RunDoctor(candidates, options, &findings);
  int problems = 0;
  for (const Finding& f : findings) {
    problems += f.kind == Finding::kProblem;
    out->Finding(f.kind == Finding::kOk, f.check, f.subject, f.text, f.advice);
  }
  return problems ? kExitPortUnusable : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{"zarnflash: writes the update image into devices on serial ports."};
  app.footer(std::string("\n") + ExitCodeTable());
  app.require_subcommand(1);
  app.fallthrough();  // the output options may stand after the subcommand too
  bool json = false, quiet = false, plain = false;
  app.add_flag("--json", json, "one JSON object per line per event (format \"zarnflash\", version 1)");
  app.add_flag("-q,--quiet", quiet, "print nothing but failures");
  app.add_flag("--plain", plain, "plain lines even on a terminal");
  app.add_flag("-v,--verbose", o.output.verbose, "add a time-stamped hex trace of frames and answers");
  app.add_option("--log", o.output.logPath, "append one JSON result per device to FILE (audit trail)");

  auto addFind = [&](CLI::App* sub) {
    sub->add_option("--ports", o.find.patterns,
                    "also take ports matching PATTERN (a glob such as '/dev/pts/*') as candidates");
    sub->add_option("--usb", o.usbId, "only USB ports with this VID:PID (hex)");
    sub->add_flag("--probe-all", o.find.probeAll,
                  std::string("probe every USB serial port, not only native USB CDC ones. ") +
                      CandidateScopeHelp());
  };
  CLI::App* list = app.add_subcommand("list", "list the devices found, with their firmware versions");
  addFind(list);
  CLI::App* flash = app.add_subcommand("flash", "flash the image into a device (or every device with --all)");
  flash->add_option("--port", o.ports, "the device's port (/dev/ttyACM0, COM7); may repeat");
  flash->add_flag("--all", o.all, "flash every device found at once");
  addFind(flash);
  CLI::App* watch = app.add_subcommand("watch", "station mode: flash each device as it is plugged in");
  addFind(watch);
  for (CLI::App* sub : {flash, watch}) {
    sub->add_option("--image", o.imageFile, "send FILE instead of the built-in image");
    sub->add_option("--baud", o.output.baud, "line speed (default 921600; lower for USB-UART bridges)")
        ->check(CLI::Range(1200u, 4000000u));
    sub->add_flag("--require-version", o.requireVersion,
                  "refuse a device that gives no valid version reply instead of sending the "
                  "image to the older loader's address");
  }
  CLI::App* info = app.add_subcommand("info", "describe an image: length, version, blocks, sizes, SHA-256");
  info->add_option("file", o.infoFile, "the image (default: the built-in one)");
  CLI::App* doctor = app.add_subcommand("doctor", "check what keeps this host from flashing");
  addFind(doctor);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int shown = app.exit(e);
    return shown == 0 ? kExitOk : kExitUsage;
  }
  if (json + quiet + plain > 1) {
    std::fprintf(stderr, "zarnflash: --json, --quiet and --plain exclude one another.\n");
    return kExitUsage;
  }
  if (!o.usbId.empty()) {
    if (!ParseUsbId(o.usbId, &o.find.id)) {
      std::fprintf(stderr, "zarnflash: --usb takes VID:PID in hex, such as 1a86:55d4, not %s.\n",
                   o.usbId.c_str());
      return kExitUsage;
    }
    o.find.narrowToId = true;
  }
  o.output.mode = json ? OutputSettings::kJson
                       : quiet ? OutputSettings::kQuiet
                               : plain ? OutputSettings::kPlain : OutputSettings::kAuto;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);

  Image none;
  Output out(o.output, &none);
  if (*list) return List(o, &out);
  if (*info) return Info(o, &out);
  if (*doctor) return Doctor(o, &out);
  if (*flash) return Flash(o, &out);
  return Watch(o, &out);
}
