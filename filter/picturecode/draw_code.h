// Draws the picture of a code: noise lines and specks, then the digits in
// heavy, randomly sized and tilted type.
#pragma once

#include <cstdint>
#include <vector>

#include "filter/picturecode/canvas.h"
#include "filter/picturecode/glyphs.h"
#include "filter/picturecode/picture_challenge.h"

namespace sentrel::picturecode {

// What the drawing chose for one character.
struct DigitPlacement {
  char ch = 0;
  LogicalFont font;
  int charWidth = 0;  // width the character needs on a line
  Rect rect;          // where it was drawn first; the shadow is one pixel right and down
  int inkRight = 0;   // rightmost ink column of the shadow
};

inline constexpr int kNoiseLines = 4;
inline constexpr int kNoiseSpecks = 500;

// Draws the characters that follow the "Code=" start of the answer text (at
// most settings.length of them) on a settings.width x settings.height canvas.
// Every random choice comes from the runtime generator seeded with `seed` (the
// current time in seconds), so two drawings with the same seed and text are
// identical. With `placements`, the choices made for each character are
// appended to it.
Canvas DrawPictureCode(const char* expectedQuery, const PictureCodeSettings& settings,
                       std::uint32_t seed, GlyphFace& face,
                       std::vector<DigitPlacement>* placements = nullptr);

}  // namespace sentrel::picturecode
