// SHA-256 through libgcrypt, as lowercase hex.
#include "tools/zarnflash/sha256.h"

#include <gcrypt.h>

#include <cstdio>

std::string Sha256Hex(const uint8_t* data, size_t length) {
  // The library wants its version check before first use; it is cheap and idempotent.
  static const bool initialised = gcry_check_version(nullptr) != nullptr;
  (void)initialised;
  unsigned char digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, data, length);
  std::string hex;
  char pair[3];
  for (unsigned char b : digest) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    hex += pair;
  }
  return hex;
}
