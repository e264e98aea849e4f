// zarnflash: writes an update image into a device on a serial port and says how it went.
//   zarnflash flash --port PATH --image FILE
// Exit status 0 only when the device has received the whole image.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "flash/flash.h"
#include "report_text.h"

namespace {

std::wstring Widen(const std::string& utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    uint32_t code = extra ? (c & (0x3F >> extra)) : c;
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out += static_cast<wchar_t>(code);
    i += 1 + extra;
  }
  return out;
}

// Prints every report as it comes and remembers whether the update finished.
class PrintingChannel : public StatusChannel {
public:
  void Send(int code, uint32_t value) override {
    std::printf("zarnflash: %s\n", DescribeReport(code, value).c_str());
    std::fflush(stdout);
    if (code == STATUS_FINISHED) finished = true;
  }
  bool finished = false;
};

int Flash(const std::string& port, const std::string& image) {
  static CFLASH flash;
  if (!flash.m_port.OpenPath(port.c_str(), 921600))
    std::fprintf(stderr, "zarnflash: cannot open %s: %s\n", port.c_str(),
                 flash.m_port.LastErrorText().c_str());
  flash.SetImagePath(Widen(image).c_str());
  flash.m_packetHead = proto::kSTX;
  flash.m_blockSize = proto::kMaxBlockSize;
  flash.m_packetSize = proto::kMaxPacketSize;
  PrintingChannel channel;
  // A start refused only for want of raised priority still runs the worker.
  flash.StartFlashThread(&channel, &flash);
  while (!CFLASH::WaitFlashThread(1000)) {
  }
  return channel.finished ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zarnflash: write an update image into a device"};
  app.require_subcommand(1);
  CLI::App* flash = app.add_subcommand("flash", "flash an image into the device on a port");
  std::string port, image;
  flash->add_option("--port", port, "serial device (a path such as /dev/ttyACM0)")->required();
  flash->add_option("--image", image, "image file to send")->required()->check(CLI::ExistingFile);
  CLI11_PARSE(app, argc, argv);
  return Flash(port, image);
}
