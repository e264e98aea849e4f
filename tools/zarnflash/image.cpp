// The image zarnflash sends: built in or from a file, its header and its SHA-256.
#include "tools/zarnflash/image.h"

#include <cstdio>

#include "flash/protocol.h"
#include "tools/zarnflash/sha256.h"
#include "tools/zarnflash/host.h"

// The built-in image, linked in by embedded_image.S.
extern "C" const uint8_t zarn_embedded_image[];
extern "C" const uint8_t zarn_embedded_image_end[];

bool Image::DatabaseVersion(int32_t* version) const {
  if (bytes.size() < 12) return false;
  *version = static_cast<int32_t>(proto::GetLe32(bytes.data() + 8));
  return true;
}

uint32_t Image::Blocks() const {
  return proto::PlanTransfer(Length(), proto::kUpdatePacket.blockSize).blocks;
}

bool Image::FitsSizeCode(int code) const { return proto::ImageFits(code, Length()); }

std::string Image::Sha256() const { return Sha256Hex(bytes.data(), bytes.size()); }

int LoadBuiltInImage(Image* image, std::string* error) {
  image->source = "built-in";
  image->bytes.assign(zarn_embedded_image, zarn_embedded_image_end);
  image->path.clear();
  if (!WriteTempFile("zarnflash-image", image->bytes, &image->path, error)) return 0;
  return 1;
}

int LoadImageFile(const std::string& path, Image* image, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return 0;
  image->source = path;
  image->path = path;
  image->bytes.swap(bytes);
  return 1;
}

void ReleaseImage(Image* image) {
  if (image->source == "built-in" && !image->path.empty()) std::remove(image->path.c_str());
  image->path.clear();
}
