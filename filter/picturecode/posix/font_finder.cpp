#include "filter/picturecode/glyphs.h"

#include <fontconfig/fontconfig.h>

namespace sentrel::picturecode {
namespace {

// Asks one font configuration for the best scalable match of a family in a
// heavy, upright style.
std::optional<FontFile> MatchHeavy(FcConfig* config, const char* family) {
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return std::nullopt;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_HEAVY);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);

  std::optional<FontFile> found;
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  if (match != nullptr) {
    FcChar8* file = nullptr;
    FcBool scalable = FcFalse;
    int index = 0;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr &&
        FcPatternGetBool(match, FC_SCALABLE, 0, &scalable) == FcResultMatch && scalable) {
      if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
      found = FontFile{reinterpret_cast<const char*>(file), index};
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return found;
}

}  // namespace

std::optional<FontFile> FindHeavyFace(const char* family) {
  // A configuration of our own, released again, so that the process-wide one
  // of whoever else uses the font library in this process is left alone.
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (config == nullptr) return std::nullopt;
  std::optional<FontFile> found = MatchHeavy(config, family);
  if (!found) found = MatchHeavy(config, "sans-serif");
  FcConfigDestroy(config);
  return found;
}

}  // namespace sentrel::picturecode
