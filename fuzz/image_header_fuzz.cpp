// Fuzzes the image file reading on arbitrary files: the database version from the header, with
// its read error for short files, and block reads padded with 0x1A until the file is used up.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "flash/flash.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "image header: %s\n", what);
  std::abort();
}

class Recorder : public StatusChannel {
public:
  void Send(int code, uint32_t value) override { reports.emplace_back(code, value); }
  std::vector<std::pair<int, uint32_t>> reports;
};

// One file for the whole run, rewritten for every input.
const std::string& ImagePath() {
  static const std::string path = [] {
    char name[] = "/tmp/zarn-fuzz-image-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) Fail("no temporary file");
    close(fd);
    return std::string(name);
  }();
  static const bool removedAtExit = std::atexit([] { unlink(path.c_str()); }) == 0;
  (void)removedAtExit;
  return path;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
    Fail("cannot write the temporary file");
}

}  // namespace

// The first byte picks the block size of the reads (1 to 1024) and whether the read past the
// end, which retries for a few milliseconds, is tried; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned blockSize = 1 + (unsigned(data[0]) * 97 % proto::kMaxBlockSize);
  const bool readPastEnd = (data[0] & 0x0F) == 0;
  const uint8_t* file = data + 1;
  const size_t length = size - 1;
  WriteFile(ImagePath(), file, length);
  const std::wstring wide(ImagePath().begin(), ImagePath().end());

  CFLASH flash;
  Recorder recorder;
  flash.SetStatusChannel(&recorder);
  flash.SetImagePath(wide.c_str());
  const int32_t version = flash.ReadDatabaseVersion();
  if (flash.m_file.IsOpen()) Fail("the version read left the file open");
  if (length >= 12) {
    if (version != static_cast<int32_t>(proto::GetLe32(file + 8))) Fail("version is not offset 8");
    if (!recorder.reports.empty()) Fail("a report for a file with a version");
  } else {
    const std::vector<std::pair<int, uint32_t>> readError = {{STATUS_READ_ERROR, 0}};
    if (version != 0 || recorder.reports != readError) Fail("a short file without one read error");
  }

  // Blocks: the file's bytes in order, the last one filled with 0x1A; then nothing more.
  if (!flash.m_file.Open(flash.m_imagePath, CFile::modeRead | CFile::shareDenyNone))
    Fail("cannot open the image");
  std::vector<unsigned char> block(blockSize + 1);
  for (size_t at = 0; at < length; at += blockSize) {
    block[blockSize] = 0xA5;  // a read must stay inside its block
    if (!flash.ReadImageBlock(block.data(), blockSize)) Fail("a block of the file did not read");
    for (size_t i = 0; i < blockSize; ++i) {
      const unsigned char want = at + i < length ? file[at + i] : proto::kPadByte;
      if (block[i] != want) Fail("a block differs from the file or its padding");
    }
    if (block[blockSize] != 0xA5) Fail("a read wrote past its block");
  }
  if (readPastEnd && flash.ReadImageBlock(block.data(), blockSize)) Fail("read past the end");
  flash.m_file.Close();
  if (recorder.reports.size() > 1) Fail("block reads reported");
  return 0;
}
