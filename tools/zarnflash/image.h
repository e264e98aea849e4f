// The image zarnflash sends: the one built into the program (the window's image) by default,
// or a file. Loaded whole: images are at most 16 MiB. Info gives what `zarnflash info`
// prints and what every result record names (database version, SHA-256).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Image {
  std::string source;          // "built-in" or the file's path
  std::vector<uint8_t> bytes;
  // Where the loader reads it from: the file itself, or a temporary copy of the built-in one.
  std::string path;

  uint32_t Length() const { return static_cast<uint32_t>(bytes.size()); }
  // The database version from the header (offset 8, little-endian); false when the image is
  // too short to hold one.
  bool DatabaseVersion(int32_t* version) const;
  uint32_t Blocks() const;
  // Whether the image fits the flash of size code 1, 2 or 3.
  bool FitsSizeCode(int code) const;
  // Hex SHA-256 of the bytes.
  std::string Sha256() const;
};

// Loads the built-in image and writes it to a temporary file for the loader. 0 and a reason
// in *error on failure.
int LoadBuiltInImage(Image* image, std::string* error);
// Loads a file. 0 and a reason in *error when it cannot be read (the OS's words).
int LoadImageFile(const std::string& path, Image* image, std::string* error);
// Removes the temporary copy of a built-in image, if one was made.
void ReleaseImage(Image* image);
