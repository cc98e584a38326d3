// The picture-code challenge of one client: the code it must type back and,
// once rendered, the bitmap file that shows the code.
#pragma once

#include <cstdint>
#include <vector>

namespace sentrel::picturecode {

// Size and length of the challenge, from section `Code` of "Config.ini".
// The settings reader has already brought them into range.
struct PictureCodeSettings {
  int length = 4;   // digits, 1 to 24
  int width = 300;  // image width in pixels, 1 to 512
  int height = 100; // image height in pixels, 1 to 512
};

// The longest code: "Code=" plus 24 digits plus the terminator fits in 32.
inline constexpr int kMaxCodeLength = 24;
inline constexpr int kMaxImageSide = 512;
// The answer's fixed start; the digits follow it.
inline constexpr char kQueryPrefix[] = "Code=";
inline constexpr int kQueryPrefixLength = sizeof(kQueryPrefix) - 1;

struct PictureChallenge {
  std::uint32_t createdAt = 0;  // seconds since 1970
  char expectedQuery[32] = {};  // "Code=" and the digits, zero-terminated
  std::uint32_t imageSize = 0;  // 0 until the image has been rendered
  std::vector<std::uint8_t> imageBytes;  // the bitmap file once rendered
};

}  // namespace sentrel::picturecode
