// The flash worker: one thread per update that runs the handshake and the transfer, and the
// reopening of the loader's port before it starts.
#include "flash/flash.h"

namespace {

constexpr unsigned kLinkBaud = 921600;

// One worker for the whole process.
struct WorkerRecord {
  StatusChannel* channel = nullptr;
  CFLASH* loader = nullptr;
  ThreadRef thread;
};
WorkerRecord g_worker;

}  // namespace

int CFLASH::OpenLink(int port) {
  if (m_port.IsOpen()) m_port.Close();
  return m_port.Open(port, kLinkBaud);
}

int CFLASH::StartFlashThread(StatusChannel* channel, CFLASH* flash) {
  // Two workers on one loader would share its port and buffers: a start while one still
  // runs is refused.
  if (!WaitForThread(g_worker.thread, 0)) return 0;
  ReleaseThread(&g_worker.thread);
  g_worker.channel = channel;
  g_worker.loader = flash;
  flash->m_status = channel;
  flash->ClearStop();
  if (!StartThread(&CFLASH::FlashThreadProc, nullptr, &g_worker.thread)) return 0;
  return RaiseThreadPriority(g_worker.thread) ? 1 : 0;
}

unsigned CFLASH::FlashThreadProc(void* /*parameter*/) {
  CFLASH* flash = g_worker.loader;
  // After a failed handshake the port stays open: the next OpenLink, or the loader's
  // destruction, closes it.
  if (!flash->QueryDevice()) return 0;
  if (!flash->SendImage()) flash->Report(STATUS_RESET, 0);
  return 0;
}

bool CFLASH::WaitFlashThread(unsigned timeoutMs) { return WaitForThread(g_worker.thread, timeoutMs); }
