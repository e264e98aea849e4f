// A raw pseudo-terminal pair for tests that play the far end of the line by hand.
#pragma once
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

struct PtyPair {
  int master = -1;
  std::string slavePath;

  PtyPair() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    slavePath = ptsname(master);
    // Raw from the start, so nothing written before the port is opened gets echoed back.
    termios tio;
    tcgetattr(master, &tio);
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
  }
  ~PtyPair() { Close(); }
  void Close() {
    if (master >= 0) close(master);
    master = -1;
  }
  void Send(const std::string& bytes) const { (void)!write(master, bytes.data(), bytes.size()); }
};
