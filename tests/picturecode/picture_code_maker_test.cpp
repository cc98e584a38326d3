#include "filter/picturecode/picture_code_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "filter/picturecode/bitmap_file.h"
#include "platform/random.h"
#include "tests/picturecode/test_images.h"

namespace sentrel::picturecode {
namespace {

using testing::DecodeBitmap;
using testing::DecodedBitmap;
using testing::Read32;

constexpr std::int64_t kStart = 1700000000;

bool AllDigits(const char* text) {
  return *text != '\0' && std::all_of(text, text + std::strlen(text),
                                      [](char c) { return c >= '0' && c <= '9'; });
}

TEST(PictureCodeMakerTest, FindsAHeavyFace) {
  platform::FakeClock clock(kStart);
  PictureCodeMaker maker(clock, {});
  EXPECT_TRUE(maker.HasFace());
}

TEST(PictureCodeMakerTest, NewChallengeCarriesCodeTimeAndNoImage) {
  for (int length : {1, 4, 24}) {
    SCOPED_TRACE(length);
    platform::FakeClock clock(kStart);
    PictureCodeMaker maker(clock, {length, 300, 100});
    const auto challenge = maker.NewPictureChallenge();
    ASSERT_NE(challenge, nullptr);
    const std::string query = challenge->expectedQuery;
    // At most 29 bytes: the terminator always fits the 32-byte field.
    EXPECT_EQ(query.size(), static_cast<std::size_t>(5 + length));
    EXPECT_EQ(challenge->expectedQuery[5 + length], '\0');
    EXPECT_EQ(query.substr(0, 5), "Code=");
    EXPECT_TRUE(AllDigits(challenge->expectedQuery + 5)) << query;
    EXPECT_EQ(challenge->imageSize, 0u);
    EXPECT_TRUE(challenge->imageBytes.empty());
    // Made after the 300 ms wait: still the same second here.
    EXPECT_EQ(challenge->createdAt, static_cast<std::uint32_t>(kStart));
  }
}

TEST(PictureCodeMakerTest, CreatedAtIsTakenAfterTheWait) {
  platform::FakeClock clock(kStart);
  clock.SleepMs(800);  // 0.8 s into the second: the wait crosses into the next
  PictureCodeMaker maker(clock, {});
  const auto challenge = maker.NewPictureChallenge();
  ASSERT_NE(challenge, nullptr);
  EXPECT_EQ(challenge->createdAt, static_cast<std::uint32_t>(kStart + 1));
}

TEST(PictureCodeMakerTest, EachOperationWaits300MillisecondsOnTheClock) {
  platform::FakeClock clock(kStart);
  PictureCodeMaker maker(clock, {});
  const std::uint64_t before = clock.SleptMs();
  auto challenge = maker.NewPictureChallenge();
  ASSERT_NE(challenge, nullptr);
  EXPECT_EQ(clock.SleptMs() - before, 300u);
  EXPECT_TRUE(maker.RenderPictureChallenge(*challenge));
  EXPECT_EQ(clock.SleptMs() - before, 600u);
  EXPECT_FALSE(maker.RenderPictureChallenge(*challenge));  // waits even when it has nothing to do
  EXPECT_EQ(clock.SleptMs() - before, 900u);
}

TEST(PictureCodeMakerTest, RenderStoresTheBitmapFile) {
  struct Case {
    int width, height;
    std::uint32_t fileSize;
  };
  for (const Case c : {Case{300, 100, 90054}, Case{301, 100, 90454}, Case{512, 512, 786486}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    platform::FakeClock clock(kStart);
    PictureCodeMaker maker(clock, {4, c.width, c.height});
    auto challenge = maker.NewPictureChallenge();
    ASSERT_NE(challenge, nullptr);
    ASSERT_TRUE(maker.RenderPictureChallenge(*challenge));
    ASSERT_EQ(challenge->imageSize, c.fileSize);
    ASSERT_EQ(challenge->imageBytes.size(), c.fileSize);
    EXPECT_EQ(challenge->imageBytes[0], 'B');
    EXPECT_EQ(challenge->imageBytes[1], 'M');
    EXPECT_EQ(Read32(challenge->imageBytes, 2), c.fileSize);
    EXPECT_EQ(Read32(challenge->imageBytes, 18), static_cast<std::uint32_t>(c.width));
    EXPECT_EQ(Read32(challenge->imageBytes, 22), static_cast<std::uint32_t>(c.height));
  }
}

TEST(PictureCodeMakerTest, SecondRenderKeepsTheFirstImage) {
  platform::FakeClock clock(kStart);
  PictureCodeMaker maker(clock, {});
  auto challenge = maker.NewPictureChallenge();
  ASSERT_NE(challenge, nullptr);
  ASSERT_TRUE(maker.RenderPictureChallenge(*challenge));
  const std::vector<std::uint8_t> first = challenge->imageBytes;
  clock.Advance(5);  // a new drawing now would look different
  EXPECT_FALSE(maker.RenderPictureChallenge(*challenge));
  EXPECT_EQ(challenge->imageBytes, first);
  EXPECT_EQ(challenge->imageSize, first.size());
}

TEST(PictureCodeMakerTest, ImageIsPureBlackOnWhiteWithInkNearTheLeftEdge) {
  platform::FakeClock clock(kStart);
  PictureCodeMaker maker(clock, {});
  auto challenge = maker.NewPictureChallenge();
  ASSERT_NE(challenge, nullptr);
  ASSERT_TRUE(maker.RenderPictureChallenge(*challenge));
  const DecodedBitmap image = DecodeBitmap(challenge->imageBytes);
  int black = 0;
  for (Colour c : image.pixels) {
    if (testing::kTextIsPureBlack) {
      ASSERT_TRUE(c == kBlack || c == kWhite) << std::hex << c;
    }
    black += c == kBlack;
  }
  // Noise plus four heavy digits: a good share of ink, far from all of it.
  EXPECT_GT(black, 1500);
  EXPECT_LT(black, 300 * 100 / 2);
}

TEST(PictureCodeMakerTest, RendersInTheSameSecondAreIdentical) {
  platform::FakeClock clock(kStart);
  PictureCodeMaker maker(clock, {6, 300, 100});
  auto a = maker.NewPictureChallenge();
  ASSERT_NE(a, nullptr);
  PictureChallenge b;
  std::memcpy(b.expectedQuery, a->expectedQuery, sizeof b.expectedQuery);
  clock.Set(kStart + 7);
  ASSERT_TRUE(maker.RenderPictureChallenge(*a));  // at kStart + 7.3
  ASSERT_TRUE(maker.RenderPictureChallenge(b));   // at kStart + 7.6
  EXPECT_EQ(a->imageBytes, b.imageBytes);

  PictureChallenge later;
  std::memcpy(later.expectedQuery, a->expectedQuery, sizeof later.expectedQuery);
  ASSERT_TRUE(maker.RenderPictureChallenge(later));  // at kStart + 7.9
  EXPECT_EQ(later.imageBytes, a->imageBytes);
  PictureChallenge nextSecond;
  std::memcpy(nextSecond.expectedQuery, a->expectedQuery, sizeof nextSecond.expectedQuery);
  ASSERT_TRUE(maker.RenderPictureChallenge(nextSecond));  // at kStart + 8.2
  EXPECT_NE(nextSecond.imageBytes, a->imageBytes);
}

// The code must not follow from the time: the digits of two challenges made
// in the same second differ, and neither is what the drawing's time-seeded
// generator would give.
TEST(PictureCodeMakerTest, CodesDoNotFollowTheClock) {
  platform::FakeClock clockA(kStart);
  platform::FakeClock clockB(kStart);
  PictureCodeMaker makerA(clockA, {24, 300, 100});
  PictureCodeMaker makerB(clockB, {24, 300, 100});
  const auto a = makerA.NewPictureChallenge();
  const auto b = makerB.NewPictureChallenge();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_STRNE(a->expectedQuery, b->expectedQuery);

  platform::CrtRand rand;
  rand.Seed(static_cast<std::uint32_t>(kStart));
  std::string timeDerived = "Code=";
  for (int i = 0; i < 24; ++i) timeDerived += kDigitAlphabet[rand.Next() % 10];
  EXPECT_NE(std::string(a->expectedQuery), timeDerived);
  EXPECT_NE(std::string(b->expectedQuery), timeDerived);
}

bool BrokenSource(void*, std::size_t) { return false; }

TEST(PictureCodeMakerTest, BrokenRandomSourceGivesNoChallenge) {
  platform::FakeClock clock(kStart);
  PictureCodeMaker maker(clock, {}, std::nullopt, BrokenSource);
  EXPECT_EQ(maker.NewPictureChallenge(), nullptr);
}

TEST(PictureCodeMakerTest, WithoutAFaceTheImageShowsNoiseOnly) {
  platform::FakeClock clock(kStart);
#if defined(_WIN32)
  const std::optional<FontFile> none;  // any face name maps to a font there
#else
  const std::optional<FontFile> none = FontFile{"/nonexistent/font.ttf", 0};
#endif
  PictureCodeMaker maker(clock, {}, none, platform::SecureRandomBytes);
  EXPECT_FALSE(maker.HasFace());
  auto challenge = maker.NewPictureChallenge();
  ASSERT_NE(challenge, nullptr);
  ASSERT_TRUE(maker.RenderPictureChallenge(*challenge));
  EXPECT_EQ(challenge->imageSize, 90054u);
}

TEST(PictureCodeMakerTest, OutOfRangeSettingsAreBroughtIntoRange) {
  platform::FakeClock clock(kStart);
  PictureCodeMaker maker(clock, {30, 0, 600});
  EXPECT_EQ(maker.Settings().length, 24);
  EXPECT_EQ(maker.Settings().width, 1);
  EXPECT_EQ(maker.Settings().height, 512);
  auto challenge = maker.NewPictureChallenge();
  ASSERT_NE(challenge, nullptr);
  EXPECT_EQ(std::strlen(challenge->expectedQuery), 29u);
}

// A clock whose waits notice when two of them overlap.
class OverlapClock final : public platform::Clock {
 public:
  std::int64_t Now() override { return kStart; }
  std::tm LocalTime(std::int64_t) override { return {}; }
  void SleepMs(std::uint32_t) override {
    const int now = ++inside_;
    int seen = most_.load();
    while (now > seen && !most_.compare_exchange_weak(seen, now)) {
    }
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
    --inside_;
  }
  int Most() const { return most_.load(); }

 private:
  std::atomic<int> inside_{0};
  std::atomic<int> most_{0};
};

TEST(PictureCodeMakerTest, OneOperationAtATimeAcrossThreads) {
  OverlapClock clock;
  PictureCodeMaker maker(clock, {4, 120, 60});
  std::vector<std::thread> threads;
  std::atomic<int> rendered{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        auto challenge = maker.NewPictureChallenge();
        if (challenge && maker.RenderPictureChallenge(*challenge)) ++rendered;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(rendered.load(), 20);
  EXPECT_EQ(clock.Most(), 1);
}

// Leaves a picture next to the test binary for a person to look at.
TEST(PictureCodeMakerTest, WritesSamplePictures) {
  struct Sample {
    const char* name;
    PictureCodeSettings settings;
  };
  for (const Sample& s : {Sample{"picture-code-sample", {4, 300, 100}},
                          Sample{"picture-code-sample-long", {12, 512, 120}}}) {
    platform::FakeClock clock(kStart);
    PictureCodeMaker maker(clock, s.settings);
    auto challenge = maker.NewPictureChallenge();
    ASSERT_NE(challenge, nullptr);
    ASSERT_TRUE(maker.RenderPictureChallenge(*challenge));
    const std::string base = std::string(PICTURECODE_SAMPLE_DIR) + "/" + s.name;
    ASSERT_TRUE(testing::WriteFile(base + ".bmp", challenge->imageBytes));
    ASSERT_TRUE(testing::WriteFile(base + ".png",
                                   testing::EncodePng(DecodeBitmap(challenge->imageBytes))));
    ASSERT_TRUE(testing::WriteFile(base + ".txt",
                                   {challenge->expectedQuery,
                                    challenge->expectedQuery + std::strlen(challenge->expectedQuery)}));
  }
}

}  // namespace
}  // namespace sentrel::picturecode
