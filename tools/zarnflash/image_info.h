// `zarnflash info`: what an image is, for people or as JSON.
#pragma once
#include "tools/zarnflash/image.h"

void PrintImageInfo(const Image& image, bool json);
