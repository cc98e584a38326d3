// Issues picture-code challenges and renders their images, one at a time in
// the whole process.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "filter/picturecode/glyphs.h"
#include "filter/picturecode/picture_challenge.h"
#include "platform/clock.h"
#include "platform/lock.h"

namespace sentrel::picturecode {

// The digit alphabet, picked by index 0 to 9.
inline constexpr char kDigitAlphabet[] = "1234567890";

// Fills `size` bytes with random bits; false when the source failed.
using RandomByteSource = bool (*)(void* buffer, std::size_t size);

// Writes `count` characters of the digit alphabet to `digits`, each of the
// ten with the same chance, from the random bytes of `source` (bytes that
// would favour some digits are thrown away). False when the source failed;
// `digits` is then unspecified.
bool PickCodeDigits(char* digits, int count, RandomByteSource source);

// The family the digits are drawn in; the font configuration maps it to the
// nearest installed heavy face.
inline constexpr char kCodeFontFamily[] = "Arial";
// How long each operation holds the picture-code lock before it works.
inline constexpr unsigned kPictureCodeWaitMs = 300;

class PictureCodeMaker {
 public:
  // Loads the heavy face for the digits once. The settings are expected in
  // range; values outside are brought to the nearest allowed one.
  PictureCodeMaker(platform::Clock& clock, const PictureCodeSettings& settings);
  // The same with a given font file (none: digits are not drawn) and random
  // source for the code's digits.
  PictureCodeMaker(platform::Clock& clock, const PictureCodeSettings& settings,
                   const std::optional<FontFile>& fontFile, RandomByteSource digitSource);
  PictureCodeMaker(const PictureCodeMaker&) = delete;
  PictureCodeMaker& operator=(const PictureCodeMaker&) = delete;

  // A new challenge with a fresh code and no image yet, made after the
  // picture-code lock's wait. Null when the system's random source failed.
  std::unique_ptr<PictureChallenge> NewPictureChallenge();

  // Draws the challenge's code and stores the bitmap file in it, after the
  // picture-code lock's wait. True when it rendered the image now; false
  // when the challenge already had one (left untouched) or when memory for
  // the image ran out (the challenge keeps no image).
  bool RenderPictureChallenge(PictureChallenge& challenge);

  const PictureCodeSettings& Settings() const { return settings_; }
  // Whether a face for the digits was found; without one the images show
  // the noise only.
  bool HasFace() const { return face_.Loaded(); }
  // The lock that makes one challenge or image at a time in the process.
  platform::CriticalSection& PictureCodeLock() { return pictureCodeLock_; }

 private:
  platform::Clock& clock_;
  PictureCodeSettings settings_;
  RandomByteSource digitSource_;
  GlyphFace face_;  // used only under the lock
  platform::CriticalSection pictureCodeLock_;
};

}  // namespace sentrel::picturecode
