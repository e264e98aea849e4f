// CFLASH, the flash loader: the device's serial port, the image file, the frame and block
// buffers and the transfer parameters, with the version handshake (QueryDevice), the image
// transfer (SendImage) and the worker that runs both. Every failing operation reports its
// failure through the status channel before it returns 0, so callers only stop.
#pragma once
#include <atomic>
#include <cstdint>
#include "flash/protocol.h"
#include "flash/sender.h"
#include "flash/status.h"
#include "framework/cstring.h"
#include "framework/file.h"
#include "framework/thread.h"
#include "framework/wnd.h"
#include "link/serial_port.h"

class CFLASH : public CWnd {
public:
  CFLASH();
  ~CFLASH() override;

  // Image file (flash_image.cpp).
  void SetImagePath(const wchar_t* path);
  int ReadImageBlock(unsigned char* buffer, unsigned size);
  int32_t ReadDatabaseVersion();

  // Frames, handshake and transfer (flash.cpp).
  int SendFrame(const unsigned char* data, int length);
  int QueryDevice();
  int SendImage();
  int BuildDataPacket(const unsigned char* data, int length);
  int Crc16(const unsigned char* data, int length);

  // Worker (flash_worker.cpp). OpenLink (re)opens the port at 921600 baud.
  int OpenLink(int port);
  // Starts the worker on `flash`, reporting to `channel`. Only one worker runs at a time.
  int StartFlashThread(StatusChannel* channel, CFLASH* flash);
#if defined(_WIN32)
  // The window's form: reports go to `window` as `message` (window_channel_win32.cpp).
  int StartFlashThread(HWND window, UINT message, CFLASH* flash);
#endif
  static unsigned FlashThreadProc(void* parameter);
  // Waits for the running worker, if any, to end; true when none runs after timeoutMs.
  static bool WaitFlashThread(unsigned timeoutMs);

  // The line the handshake and the transfer talk through: m_port unless another one is
  // plugged in (tests, fault injection). Null puts m_port back.
  void UseLine(SerialLine* line) { m_line = line ? line : &m_port; }

  // Where reports go when the loader is driven directly (tools, tests), without the worker.
  void SetStatusChannel(StatusChannel* channel) { m_status = channel; }
  // Asks a running handshake or transfer to give up at its next wait; it then fails with
  // STATUS_LINK_ERROR as if the device had gone silent. Safe from any thread.
  void RequestStop() { m_stopRequested.store(true); }
  void ClearStop() { m_stopRequested.store(false); }
  bool StopRequested() const { return m_stopRequested.load(); }

  // How the line behaved in the last transfer (packets, resends, restarts, time-outs, EOTs),
  // for tools that report link statistics. Read it once SendImage has returned.
  const proto::Sender::Counts& LastTransferCounts() const { return m_lastCounts; }

  // The port is the device's, held by value.
  CSerialPort m_port;
  CString m_imagePath;
  CFile m_file;
  unsigned char m_block[proto::kMaxBlockSize];
  unsigned char m_frame[proto::kMaxPacketSize];
  uint8_t m_sequence;
  uint8_t m_packetHead;
  int32_t m_blockSize;
  int32_t m_packetSize;
  uint32_t m_startAddress;

  DECLARE_MESSAGE_MAP()

private:
  void Report(int code, uint32_t value);
  int OpenImage(uint32_t* length);  // opens m_file and measures it; reports READ_ERROR on failure
  int RewindImage();                // back to the start of the open m_file; 0 on an error
  int WaitAnswer(uint8_t* answer);  // one answer byte of the transfer, 10 s at most

  SerialLine* m_line;
  StatusChannel* m_status = nullptr;
  std::atomic<bool> m_stopRequested{false};
  proto::Sender::Counts m_lastCounts;
};
