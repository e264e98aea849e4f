// `zarnflash info`: length, database version, blocks, the flash size codes it fits, SHA-256.
#include "tools/zarnflash/image_info.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "flash/protocol.h"

void PrintImageInfo(const Image& image, bool json) {
  int32_t database = 0;
  const bool hasVersion = image.DatabaseVersion(&database);
  std::vector<int> fits;
  for (int code = 1; code <= 3; ++code)
    if (image.FitsSizeCode(code)) fits.push_back(code);
  if (json) {
    nlohmann::json e = {{"format", "zarnflash"}, {"version", 1}, {"event", "image"},
                        {"source", image.source}, {"length", image.Length()},
                        {"blocks", image.Blocks()}, {"fits_size_codes", fits},
                        {"sha256", image.Sha256()}};
    if (hasVersion) e["database_version"] = database;
    std::printf("%s\n", e.dump().c_str());
    return;
  }
  std::printf("image             %s\n", image.source.c_str());
  std::printf("length            %u bytes\n", image.Length());
  if (hasVersion)
    std::printf("database version  %d\n", static_cast<int>(database));
  else
    std::printf("database version  none (shorter than its 12-byte header)\n");
  std::printf("blocks            %u of %d bytes\n", image.Blocks(), proto::kUpdatePacket.blockSize);
  std::string codes;
  for (int code : fits) {
    char text[48];
    std::snprintf(text, sizeof text, "%s%d (up to %u bytes)", codes.empty() ? "" : ", ", code,
                  proto::FlashSizeLimit(code));
    codes += text;
  }
  std::printf("fits size codes   %s\n", codes.empty() ? "none: too large for every device" : codes.c_str());
  std::printf("sha256            %s\n", image.Sha256().c_str());
}
