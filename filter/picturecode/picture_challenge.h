// The current picture code of one client.
#pragma once

#include <cstdint>
#include <vector>

namespace sentrel {

struct PictureChallenge {
  std::uint32_t createdAt = 0;       // when the code was made, seconds since 1970
  char expectedQuery[32] = {};       // "Code=" followed by the digits
  std::uint32_t imageSize = 0;       // 0 until the image has been rendered
  std::vector<std::uint8_t> imageBytes;  // the rendered bitmap file
};

}  // namespace sentrel
