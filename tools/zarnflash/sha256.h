// SHA-256 through libgcrypt, as lowercase hex.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

std::string Sha256Hex(const uint8_t* data, size_t length);
