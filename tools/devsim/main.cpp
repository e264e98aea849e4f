// devsim: the device on a pty for manual runs and scripted tests. Prints the pty's path, serves
// updates, prints one summary line per update and exits 0 when the image was verified.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/devsim/devsim.h"

namespace {

// Upper bound of the counting options: far beyond any transfer (16 MiB in 128-byte packets is
// 131072 of them), so that a fault can still be put past the end of an image.
constexpr int kMaxCount = 1000000;
// Bounds of the line options: 100 MB/s, and a whole minute before each answer.
constexpr int kMaxRate = 100000000;
constexpr int kMaxLatencyUs = 60000000;

// Waits up to `ms` for SIGINT or SIGTERM (blocked in every thread); true when one came.
bool SignalArrived(const sigset_t& set, int ms) {
  timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  int sig = sigtimedwait(&set, nullptr, &ts);
  return sig == SIGINT || sig == SIGTERM;
}

// The help's list of faults, a line each.
std::string FaultList() {
  std::string text = "Faults (--fault NAME; K is --fault-packet, counted from 1):\n";
  for (const std::string& name : devsim::FaultNames()) {
    devsim::Fault fault = devsim::Fault::kNone;
    devsim::ParseFault(name, &fault);
    char line[160];
    std::snprintf(line, sizeof line, "  %-20s %s\n", name.c_str(), devsim::FaultHelp(fault));
    text += line;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  devsim::Options opt;
  std::string faultName = "none";
  int rate = 0;       // taken signed, so that a negative value meets the range check
  int latencyUs = 0;
  bool repeat = false;
  bool once = false;

  CLI::App app{"devsim: plays the device's loader on a pseudo-terminal and checks what the "
               "updater sends. Prints the pty path first, a summary line per update last."};
  app.add_option("--major", opt.major, "firmware major version in the version reply")
      ->capture_default_str()->check(CLI::Range(0, 255));
  app.add_option("--minor", opt.minor, "firmware minor version in the version reply")
      ->capture_default_str()->check(CLI::Range(0, 255));
  app.add_option("--size-code", opt.sizeCode, "flash size code in the version reply")
      ->capture_default_str()->check(CLI::Range(0, 255));
  app.add_option("--verify", opt.verifyFile, "compare the received image with FILE")
      ->check(CLI::ExistingFile);
  app.add_option("--fault", faultName, "fault to inject (see the list below)")
      ->capture_default_str()->check(CLI::IsMember(devsim::FaultNames()));
  app.add_option("--fault-packet", opt.faultPacket, "packet K the fault applies to (from 1)")
      ->capture_default_str()->check(CLI::Range(1, kMaxCount));
  app.add_option("--fault-count", opt.faultCount, "times packet K is NAKed (nak-packet)")
      ->capture_default_str()->check(CLI::Range(0, kMaxCount));
  app.add_option("--fault-update", opt.faultUpdate,
                 "only update N gets the fault (0: every update)")
      ->capture_default_str()->check(CLI::Range(0, kMaxCount));
  app.add_option("--rate", rate, "line rate in bytes per second (0: unpaced)")
      ->capture_default_str()->check(CLI::Range(0, kMaxRate));
  app.add_option("--latency-us", latencyUs, "delay before every answer, microseconds")
      ->capture_default_str()->check(CLI::Range(0, kMaxLatencyUs));
  app.add_option("--link", opt.linkPath,
                 "make a symlink to the pty here (e.g. a Wine COM port), locked by PATH.lock; "
                 "refused while another devsim holds it");
  auto* onceFlag = app.add_flag("--once", once, "serve one update, then exit (default)");
  app.add_flag("--repeat", repeat, "serve update after update until SIGTERM/SIGINT")
      ->excludes(onceFlag);
  app.add_flag("-v,--verbose", opt.verbose, "log every event to stderr");
  app.footer(FaultList() + "\nEach summary line also says fault=NAME fired=0|1 (whether the "
             "fault acted in that update) and quiet=0|1 (the update ended because the updater "
             "sent nothing for " + std::to_string(devsim::kUpdaterQuietMs / 1000) + " s).\n");
  CLI11_PARSE(app, argc, argv);
  devsim::ParseFault(faultName, &opt.fault);
  opt.lineRate = static_cast<uint32_t>(rate);
  opt.latencyUs = static_cast<uint32_t>(latencyUs);

  // Signals are taken by sigtimedwait here; the device's thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  devsim::Device device(opt);
  if (!device.Start()) {
    std::fprintf(stderr, "devsim: %s\n", device.Error().c_str());
    return 2;
  }
  std::printf("%s\n", device.SlavePath().c_str());
  std::fflush(stdout);

  // A device that went quiet stays on the line, silent, until it is told to go: leaving would
  // hang the port up, which the updater would see as a different failure.
  const bool staysSilent = opt.fault == devsim::Fault::kStop ||
                           opt.fault == devsim::Fault::kSilent;
  bool ok = opt.verifyFile.empty();
  bool allVerified = true;
  size_t printed = 0;
  auto printNext = [&] {
    devsim::Result r = device.Updates()[printed++];
    for (const std::string& e : r.errors) std::fprintf(stderr, "devsim: error: %s\n", e.c_str());
    std::printf("%s\n", devsim::Summary(r).c_str());
    std::fflush(stdout);
    if (r.verifyRequested && !r.verified) allVerified = false;
  };
  bool interrupted = false;
  for (;;) {
    if (device.WaitDone(0, static_cast<int>(printed) + 1)) {
      printNext();
      if (!repeat && !staysSilent) break;
      continue;
    }
    if (device.Gone()) break;
    if (SignalArrived(signals, 50)) {
      interrupted = true;
      break;
    }
  }
  // Stopping ends a completed update that was still counting its EOTs: it is reported like
  // any other, not as an interruption.
  device.Stop();
  if (repeat || staysSilent || printed == 0) {
    while (printed < device.Updates().size()) printNext();
  }
  if (printed == 0) {
    // Stopped before any update ended: report what was seen so far.
    devsim::Result r = device.GetResult();
    std::printf("%s%s\n", devsim::Summary(r).c_str(), interrupted ? " interrupted=1" : "");
    std::fflush(stdout);
  }
  if (!opt.verifyFile.empty()) ok = printed > 0 && allVerified;
  return ok ? 0 : 1;
}
