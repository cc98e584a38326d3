#include "filter/picturecode/glyphs.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sentrel::picturecode {
namespace {

// Slant of a synthesised italic: about 12 degrees (tan 12° in 16.16).
constexpr FT_Fixed kItalicShear = 0x0366A;
constexpr int kHeavyWeight = 600;

FT_Fixed ToFixed(double value) { return static_cast<FT_Fixed>(std::lround(value * 65536.0)); }

}  // namespace

// One face of the outline font engine, with its own engine instance.
struct GlyphFace::Backend {
  ~Backend() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
  }
  // Scales the face for the font; false when it cannot.
  bool SetSize(const LogicalFont& font);

  FT_Library library = nullptr;
  FT_Face face = nullptr;
  long cellUnits = 0;    // ascent plus descent, in font units
  long ascentUnits = 0;  // ascent, in font units
  bool faceIsBold = false;
  int ascentPx = 0;      // for the size last set
  long emboldenStrength = 0;  // 26.6 pixels, for the size last set
};

GlyphFace::GlyphFace(const std::optional<FontFile>& file) {
  if (!file) return;
  auto backend = std::make_unique<Backend>();
  if (FT_Init_FreeType(&backend->library) != 0) {
    backend->library = nullptr;
    return;
  }
  FT_Face face = nullptr;
  if (FT_New_Face(backend->library, file->path.c_str(), file->index, &face) != 0) return;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
    FT_Done_Face(face);
    return;
  }
  // The character cell follows the face's Windows metrics where it has them,
  // else its horizontal header.
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 != nullptr && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    backend->ascentUnits = os2->usWinAscent;
    backend->cellUnits = static_cast<long>(os2->usWinAscent) + os2->usWinDescent;
  } else {
    backend->ascentUnits = face->ascender;
    backend->cellUnits = static_cast<long>(face->ascender) - face->descender;
  }
  if (backend->ascentUnits <= 0 || backend->cellUnits <= 0) {
    FT_Done_Face(face);
    return;
  }
  if (os2 != nullptr && os2->version != 0xFFFF) {
    backend->faceIsBold = os2->usWeightClass >= kHeavyWeight;
  } else {
    backend->faceIsBold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
  }
  backend->face = face;
  backend_ = std::move(backend);
}

GlyphFace::~GlyphFace() = default;

bool GlyphFace::Backend::SetSize(const LogicalFont& font) {
  if (face == nullptr || font.height < 1) return false;
  // The height is the cell height: the em square is scaled so that ascent
  // plus descent come to that many pixels.
  const double scale = static_cast<double>(font.height) / static_cast<double>(cellUnits);
  const long ppem = std::max(1L, std::lround(scale * face->units_per_EM));
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(ppem)) != 0) return false;
  ascentPx = static_cast<int>(std::lround(scale * static_cast<double>(ascentUnits)));
  // A face lighter than the weight asked for is thickened, by 1/24 em.
  emboldenStrength = (!faceIsBold && font.weight >= kHeavyWeight) ? (ppem * 64) / 24 : 0;
  return true;
}

int GlyphFace::MeasureWidth(const LogicalFont& font, char ch) {
  if (backend_ == nullptr || !backend_->SetSize(font)) return 0;
  const FT_Face face = backend_->face;
  const FT_ULong code = static_cast<unsigned char>(ch);
  if (FT_Load_Char(face, code, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0) return 0;
  const FT_Pos advance = face->glyph->advance.x + backend_->emboldenStrength;
  return static_cast<int>((advance + 32) >> 6);
}

void GlyphFace::DrawChar(Canvas& canvas, const LogicalFont& font, const Rect& rect, char ch) {
  if (backend_ == nullptr || !backend_->SetSize(font)) return;
  const FT_Face face = backend_->face;
  const FT_ULong code = static_cast<unsigned char>(ch);
  if (FT_Load_Char(face, code, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0) return;
  FT_GlyphSlot slot = face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return;
  FT_Outline* outline = &slot->outline;

  if (backend_->emboldenStrength > 0) FT_Outline_Embolden(outline, backend_->emboldenStrength);
  if (font.italic) {
    FT_Matrix shear{0x10000, kItalicShear, 0, 0x10000};
    FT_Outline_Transform(outline, &shear);
  }
  // Turn about the top-left corner of the cell: move that corner to the
  // origin, rotate counter-clockwise (the outline's y axis points up).
  FT_Outline_Translate(outline, 0, -static_cast<FT_Pos>(backend_->ascentPx) * 64);
  if (font.escapement % 3600 != 0) {
    const double angle = font.escapement / 10.0 * std::numbers::pi / 180.0;
    const FT_Fixed c = ToFixed(std::cos(angle));
    const FT_Fixed s = ToFixed(std::sin(angle));
    FT_Matrix rotate{c, -s, s, c};
    FT_Outline_Transform(outline, &rotate);
  }
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return;
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO || bitmap.pitch <= 0 || bitmap.buffer == nullptr) {
    return;
  }

  // The cell's top-left corner on the canvas: left edge of the rectangle,
  // cell centred vertically.
  const int cornerX = rect.left;
  const int cornerY = rect.top + (rect.bottom - rect.top - font.height) / 2;
  const int originX = cornerX + slot->bitmap_left;
  const int originY = cornerY - slot->bitmap_top;
  for (unsigned row = 0; row < bitmap.rows; ++row) {
    const unsigned char* bits = bitmap.buffer + static_cast<std::size_t>(row) * bitmap.pitch;
    for (unsigned col = 0; col < bitmap.width; ++col) {
      if (bits[col >> 3] & (0x80 >> (col & 7))) {
        canvas.SetPixel(originX + static_cast<int>(col), originY + static_cast<int>(row), kBlack);
      }
    }
  }
}

}  // namespace sentrel::picturecode
