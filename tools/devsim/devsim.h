// The device simulator: plays the device's loader on a pseudo-terminal (version reply, download
// command, XMODEM-1K receiver with CRC-16) and records what it received, with optional faults
// and line pacing. Tests start a Device in-process; the devsim program wraps the same class.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace devsim {

// One misbehaviour at a time. Packet numbers count the data packets of a transfer from 1; what
// each fault does is FaultHelp's text (the table in session.cpp), as `devsim --help` shows it.
enum class Fault {
  kNone,
  kSilent,
  kNoVersionReply,
  kSplitReply,
  kNoiseReply,
  kBadReplyChecksum,
  kNakDownload,
  kNakPacket,
  kCancel,
  kGarbage,
  kStop,
  kRestart,
  kHangUp,
  kHangUpQuery,
  kDuplicateAck,
  kStrayAck,
  kNoiseBetween,
};

// While an update waits on the updater, this much silence means the updater is gone (killed,
// or its port closed): the update ends as incomplete. The updater's own waits are shorter -
// about 2 s for a version reply - and it sends each packet right after the previous answer.
constexpr int kUpdaterQuietMs = 5000;

// "none", "silent", "no-version-reply", ... (see kFaults in session.cpp).
const char* FaultName(Fault fault);
// What the fault does, one line for help texts.
const char* FaultHelp(Fault fault);
// Parses a fault name; returns 0 for an unknown one.
int ParseFault(const std::string& name, Fault* fault);
// Every fault name, in the order of the enum, for help texts.
std::vector<std::string> FaultNames();

struct Options {
  int major = 2;
  int minor = 5;
  int sizeCode = 1;
  std::string verifyFile;  // empty: nothing to compare with
  Fault fault = Fault::kNone;
  int faultPacket = 1;     // k
  int faultCount = 1;      // n, for kNakPacket
  int faultUpdate = 0;     // the fault applies only to this update (1, 2, ...); 0: to every one
  uint32_t lineRate = 0;   // bytes per second the line carries each way; 0: no pacing
  uint32_t latencyUs = 0;  // extra delay before every answer
  std::string linkPath;    // when set, a symlink to the pty slave is made here, guarded by
                           // a lock on linkPath + ".lock" while the device lives
  bool verbose = false;    // log every event to stderr
};

// What one update (version query, download command, transfer) looked like from the device.
struct Result {
  int update = 0;               // 1 for the first update the device served
  bool ended = false;           // the update is over (EOT, or refused, cancelled, abandoned)
  bool completed = false;       // the transfer ended with EOT
  bool versionQuery = false;    // a 'V' query came before the download command
  bool download = false;        // a valid download command came
  uint32_t address = 0;         // from the download command
  uint32_t length = 0;          // image length L from the download command
  uint64_t bytes = 0;           // image bytes received: stored data up to L
  std::vector<uint8_t> data;    // every data byte stored, fill bytes of the last block included
  unsigned packets = 0;         // good data packets stored (counted again after a restart)
  unsigned naks = 0;            // NAKs sent for bad or unreadable packets (and refused frames)
  unsigned duplicates = 0;      // repeats of the previous packet, ACKed and dropped
  unsigned eots = 0;            // EOT bytes seen, the first (ACKed) and the ones after it
  unsigned restarts = 0;        // transfers started over after a second 'C'
  bool verifyRequested = false; // a file to compare with was given
  bool verified = false;        // the first L bytes equal the file, the fill bytes are 0x1A
  Fault fault = Fault::kNone;   // the fault armed for this update (kNone: none, or another's)
  bool faultFired = false;      // that fault changed what the device did in this update
  bool updaterQuiet = false;    // ended because the updater sent nothing for a few seconds
  std::string note;             // why verification failed
  std::vector<std::string> errors;  // protocol errors: bad frames, sequence errors, ...
};

// One line "devsim: update=1 verified=1 bytes=... address=0x1000 ..." for scripts; the fields
// keep their order, new ones are added after `errors` (`note`, when there is one, comes last).
std::string Summary(const Result& result);

class DeviceLoop;

// The device on its own pty, served by a background thread.
class Device {
public:
  explicit Device(const Options& options);
  ~Device();  // Stop()
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Creates the pty (and the link), loads the verify file, starts serving. 0 on failure; the
  // reason is in Error(). A link that a live device holds is refused; a stale one (its device
  // crashed) is replaced.
  int Start();
  const std::string& SlavePath() const;
  const std::string& Error() const;

  // Waits until `updates` updates have ended; non-zero when they have, 0 on time-out.
  int WaitDone(int timeoutMs, int updates = 1);
  // Ends the thread, closes the pty and removes the link. An update whose transfer completed
  // but was still counting the EOTs after it ends as it would have. Safe to call more than once.
  void Stop();
  // True once the device has hung up (fault) or been stopped.
  bool Gone() const;

  // The last ended update, or the one in progress when none has ended yet.
  Result GetResult() const;
  // Every ended update, in order.
  std::vector<Result> Updates() const;

private:
  std::unique_ptr<DeviceLoop> m_loop;
};

}  // namespace devsim
