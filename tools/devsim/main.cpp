// devsim: the device on a pty for manual runs and scripted tests. Prints the pty's path, serves
// updates, prints one summary line per update and exits 0 when the image was verified.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/devsim/devsim.h"

namespace {

// Waits up to `ms` for SIGINT or SIGTERM (blocked in every thread); true when one came.
bool SignalArrived(const sigset_t& set, int ms) {
  timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  int sig = sigtimedwait(&set, nullptr, &ts);
  return sig == SIGINT || sig == SIGTERM;
}

}  // namespace

int main(int argc, char** argv) {
  devsim::Options opt;
  std::string faultName = "none";
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
  app.add_option("--fault", faultName, "fault to inject")
      ->capture_default_str()->check(CLI::IsMember(devsim::FaultNames()));
  app.add_option("--fault-packet", opt.faultPacket, "packet k the fault applies to (from 1)")
      ->capture_default_str()->check(CLI::PositiveNumber);
  app.add_option("--fault-count", opt.faultCount, "times packet k is NAKed (nak-packet)")
      ->capture_default_str()->check(CLI::NonNegativeNumber);
  app.add_option("--fault-update", opt.faultUpdate,
                 "only update N gets the fault (0: every update)")
      ->capture_default_str()->check(CLI::NonNegativeNumber);
  app.add_option("--rate", opt.lineRate, "line rate in bytes per second (0: unpaced)")
      ->capture_default_str();
  app.add_option("--latency-us", opt.latencyUs, "delay before every answer, microseconds")
      ->capture_default_str();
  app.add_option("--link", opt.linkPath, "make a symlink to the pty here (e.g. a Wine COM port)");
  auto* onceFlag = app.add_flag("--once", once, "serve one update, then exit (default)");
  app.add_flag("--repeat", repeat, "serve update after update until SIGTERM/SIGINT")
      ->excludes(onceFlag);
  app.add_flag("-v,--verbose", opt.verbose, "log every event to stderr");
  CLI11_PARSE(app, argc, argv);
  devsim::ParseFault(faultName, &opt.fault);

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
  int printed = 0;
  bool interrupted = false;
  for (;;) {
    if (device.WaitDone(0, printed + 1)) {
      devsim::Result r = device.Updates()[printed++];
      for (const std::string& e : r.errors) std::fprintf(stderr, "devsim: error: %s\n", e.c_str());
      std::printf("%s\n", devsim::Summary(r).c_str());
      std::fflush(stdout);
      if (r.verifyRequested && !r.verified) allVerified = false;
      if (!repeat && !staysSilent) break;
      continue;
    }
    if (device.Gone()) break;
    if (SignalArrived(signals, 50)) {
      interrupted = true;
      break;
    }
  }
  if (printed == 0) {
    // Stopped before any update ended: report what was seen so far.
    devsim::Result r = device.GetResult();
    std::printf("%s%s\n", devsim::Summary(r).c_str(), interrupted ? " interrupted=1" : "");
    std::fflush(stdout);
  }
  device.Stop();
  if (!opt.verifyFile.empty()) ok = printed > 0 && allVerified;
  return ok ? 0 : 1;
}
