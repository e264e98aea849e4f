// Fuzzes the handshake's reply scanning: arbitrary chunks, each accepted reply checked against
// a well-formed version frame in the same chunk, and a clean reply after noise always found.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "flash/device_codec.h"
#include "flash/protocol.h"

namespace {

void Fail(const char* what, size_t at) {
  std::fprintf(stderr, "reply scanner: %s (chunk offset %zu)\n", what, at);
  std::abort();
}

// The end (one past "??") of the first well-formed 'V' frame starting at or after `from` whose
// fields are `reply`, or 0 when the chunk has none. A frame the scanner may accept is at most
// 15 bytes long: it drops 16 bytes without a complete frame.
size_t FindFrame(const std::vector<uint8_t>& chunk, size_t from, const proto::VersionReply& reply) {
  for (size_t p = from; p < chunk.size(); ++p) {
    if (chunk[p] != proto::kFrameStart || p + 3 > chunk.size()) continue;
    const size_t length = size_t(chunk[p + 2]) + proto::kFrameOverhead;
    if (length > 15 || p + length > chunk.size()) continue;
    const uint8_t* f = &chunk[p];
    if (f[1] != proto::kCmdVersion || f[length - 1] != proto::kFrameEnd ||
        f[length - 2] != proto::kFrameEnd ||
        f[length - 3] != proto::FrameChecksum(f + 1, length - 4))
      continue;
    if (f[3] == reply.major && f[4] == reply.minor && f[5] == reply.sizeCode) return p + length;
  }
  return 0;
}

// Scans one chunk from a buffer of exactly its size, so that any read past it is caught.
std::vector<proto::VersionReply> Scan(const std::vector<uint8_t>& bytes) {
  std::vector<proto::VersionReply> replies;
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(bytes.size() ? bytes.size() : 1));
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  proto::ReplyScanner scanner(copy, bytes.size());
  proto::VersionReply reply;
  while (scanner.Next(&reply)) {
    replies.push_back(reply);
    if (replies.size() > bytes.size() / proto::kFrameOverhead) Fail("more replies than frames", 0);
  }
  if (scanner.Next(&reply)) Fail("a used-up chunk gave another reply", bytes.size());
  std::free(copy);
  return replies;
}

void CheckChunk(const std::vector<uint8_t>& chunk) {
  // Accepted replies stand in the chunk in order, each a whole frame after the previous one.
  size_t from = 0;
  for (const proto::VersionReply& reply : Scan(chunk)) {
    const size_t end = FindFrame(chunk, from, reply);
    if (end == 0) Fail("accepted a reply that is no well-formed 'V' frame of the chunk", from);
    from = end;
  }

  // The same bytes without any '$' are noise; a clean reply after them is found, exactly once.
  std::vector<uint8_t> noisy;
  for (uint8_t b : chunk)
    if (b != proto::kFrameStart) noisy.push_back(b);
  const uint8_t major = chunk.size() > 0 ? chunk[0] : 0;
  const uint8_t minor = chunk.size() > 1 ? chunk[1] : 0;
  const uint8_t sizeCode = chunk.size() > 2 ? chunk[2] : 0;
  uint8_t frame[proto::kVersionReplyLength];
  proto::BuildVersionReply(frame, major, minor, sizeCode);
  noisy.insert(noisy.end(), frame, frame + sizeof frame);
  const std::vector<proto::VersionReply> found = Scan(noisy);
  if (found.size() != 1 || found[0].major != major || found[0].minor != minor ||
      found[0].sizeCode != sizeCode)
    Fail("a clean reply after noise was not found exactly once", noisy.size());
}

}  // namespace

// The input is a sequence of chunks, each a length byte and that many bytes (the last one may
// be cut short); each chunk is scanned on its own, as the loader scans each read.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t pos = 0;
  while (pos < size) {
    const size_t want = data[pos++];
    const size_t take = want < size - pos ? want : size - pos;
    CheckChunk(std::vector<uint8_t>(data + pos, data + pos + take));
    pos += take;
  }
  return 0;
}
