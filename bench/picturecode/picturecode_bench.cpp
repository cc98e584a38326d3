// Cost of one challenge image (drawn once per code) and of finding the face
// (once per filter load).
#include <benchmark/benchmark.h>

#include <string>

#include "filter/picturecode/bitmap_file.h"
#include "filter/picturecode/draw_code.h"
#include "filter/picturecode/glyphs.h"

namespace sentrel::picturecode {
namespace {

void BM_DrawAndEncode(benchmark::State& state) {
  const PictureCodeSettings settings{static_cast<int>(state.range(0)),
                                     static_cast<int>(state.range(1)),
                                     static_cast<int>(state.range(2))};
  GlyphFace face(FindHeavyFace("Arial"));
  const std::string query = "Code=" + std::string(settings.length, '7');
  std::uint32_t seed = 1700000000;
  for (auto _ : state) {
    const Canvas canvas = DrawPictureCode(query.c_str(), settings, seed++, face);
    auto file = EncodeBitmapFile(canvas);
    benchmark::DoNotOptimize(file.data());
  }
}
BENCHMARK(BM_DrawAndEncode)
    ->Args({4, 300, 100})
    ->Args({24, 512, 512})
    ->Unit(benchmark::kMillisecond);

void BM_FindAndLoadFace(benchmark::State& state) {
  for (auto _ : state) {
    GlyphFace face(FindHeavyFace("Arial"));
    benchmark::DoNotOptimize(face.Loaded());
  }
}
BENCHMARK(BM_FindAndLoadFace)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sentrel::picturecode
