#include "filter/picturecode/picture_code_maker.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "filter/picturecode/bitmap_file.h"
#include "filter/picturecode/draw_code.h"
#include "platform/random.h"

namespace sentrel::picturecode {

bool PickCodeDigits(char* digits, int count, RandomByteSource source) {
  // 250 is the largest multiple of 10 a byte can hold: bytes from 250 up are
  // drawn again, so every remainder 0 to 9 is equally likely.
  constexpr unsigned kAcceptBelow = 250;
  // A source that keeps giving only such bytes is broken; give up on it.
  constexpr int kMaxFruitlessDraws = 16;
  std::uint8_t pool[32];
  int filled = 0;
  int fruitless = 0;
  while (filled < count) {
    if (fruitless == kMaxFruitlessDraws || !source(pool, sizeof pool)) return false;
    const int before = filled;
    for (std::uint8_t byte : pool) {
      if (byte >= kAcceptBelow) continue;
      digits[filled++] = kDigitAlphabet[byte % 10];
      if (filled == count) break;
    }
    fruitless = filled == before ? fruitless + 1 : 0;
  }
  return true;
}
namespace {

PictureCodeSettings InRange(const PictureCodeSettings& s) {
  return {std::clamp(s.length, 1, kMaxCodeLength), std::clamp(s.width, 1, kMaxImageSide),
          std::clamp(s.height, 1, kMaxImageSide)};
}

}  // namespace

PictureCodeMaker::PictureCodeMaker(platform::Clock& clock, const PictureCodeSettings& settings)
    : PictureCodeMaker(clock, settings, FindHeavyFace(kCodeFontFamily),
                       platform::SecureRandomBytes) {}

PictureCodeMaker::PictureCodeMaker(platform::Clock& clock, const PictureCodeSettings& settings,
                                   const std::optional<FontFile>& fontFile,
                                   RandomByteSource digitSource)
    : clock_(clock), settings_(InRange(settings)), digitSource_(digitSource), face_(fontFile) {}

std::unique_ptr<PictureChallenge> PictureCodeMaker::NewPictureChallenge() {
  platform::ScopedLock hold(pictureCodeLock_);
  clock_.SleepMs(kPictureCodeWaitMs);

  // The digits come from the system's unpredictable source, never from the
  // time-seeded generator of the drawing: knowing the clock must not reveal
  // the code.
  char digits[kMaxCodeLength];
  if (!PickCodeDigits(digits, settings_.length, digitSource_)) return nullptr;

  auto challenge = std::make_unique<PictureChallenge>();
  challenge->imageSize = 0;
  challenge->createdAt = static_cast<std::uint32_t>(clock_.Now());
  std::memcpy(challenge->expectedQuery, kQueryPrefix, kQueryPrefixLength);
  std::memcpy(challenge->expectedQuery + kQueryPrefixLength, digits,
              static_cast<std::size_t>(settings_.length));
  challenge->expectedQuery[kQueryPrefixLength + settings_.length] = '\0';
  return challenge;
}

bool PictureCodeMaker::RenderPictureChallenge(PictureChallenge& challenge) {
  platform::ScopedLock hold(pictureCodeLock_);
  clock_.SleepMs(kPictureCodeWaitMs);
  if (challenge.imageSize != 0) return false;

  // The drawing's generator is seeded with the current second.
  const auto seed = static_cast<std::uint32_t>(clock_.Now());
  try {
    const Canvas canvas = DrawPictureCode(challenge.expectedQuery, settings_, seed, face_);
    std::vector<std::uint8_t> file = EncodeBitmapFile(canvas);
    if (file.empty()) return false;
    challenge.imageSize = static_cast<std::uint32_t>(file.size());
    challenge.imageBytes = std::move(file);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace sentrel::picturecode
