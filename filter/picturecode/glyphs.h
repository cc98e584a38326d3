// Text drawing for the picture code: one character of a face, sized, rotated
// and slanted as a logical font asks. On Linux the face is an outline font
// rasterised without smoothing, so that its ink is pure black; on Windows it
// is the graphics device interface's font of that face name.
#pragma once

#include <memory>
#include <optional>

#include "filter/picturecode/canvas.h"
#include <string>

namespace sentrel::picturecode {

class CodePainter;

// An outline font file and the face in it. The system's font configuration
// finds it on Linux; on Windows the "path" is the face name itself.
struct FontFile {
  std::string path;
  int index = 0;  // face index inside the file
};

// The installed font that best stands for the given family in a heavy,
// upright weight (a family name the system does not have maps to a
// metric-compatible or generic face). When that yields nothing usable, any
// heavy sans-serif face is tried. Empty when no scalable font is installed.
std::optional<FontFile> FindHeavyFace(const char* family);


// A font as the drawing asks for it. The width is always the face's own
// (proportional) one. Glyphs turn with the line of text: the escapement is
// the angle of both, and the separate orientation angle is recorded but has
// no effect, as in the compatible graphics mode of the original platform.
struct LogicalFont {
  int height = 0;       // cell height in pixels (ascent plus descent)
  int escapement = 0;   // tenths of a degree, counter-clockwise
  int orientation = 0;  // tenths of a degree (not used for drawing)
  int weight = 400;     // 100 to 1000, heavy from 600 on
  bool italic = false;
};

// One loaded outline face with its own rasteriser instance. Not safe for
// concurrent use: callers serialise access.
class GlyphFace {
 public:
  // Loads the face from the file; with no file, or one that cannot be read,
  // the face stays unloaded and draws nothing.
  explicit GlyphFace(const std::optional<FontFile>& file);
  ~GlyphFace();
  GlyphFace(const GlyphFace&) = delete;
  GlyphFace& operator=(const GlyphFace&) = delete;

  bool Loaded() const { return backend_ != nullptr; }

  // The width the character needs on one line (its advance), in pixels;
  // 0 when the face is not loaded or has no such character.
  int MeasureWidth(const LogicalFont& font, char ch);

  // Draws the character in black on a single line, with the top-left corner
  // of its character cell at the rectangle's left edge and the cell centred
  // vertically in the rectangle; the text turns about that corner. Only the
  // glyph's own pixels are painted (transparent background). The outline
  // rasteriser clips the drawing to the canvas only; the graphics device
  // interface's text drawing also clips it to the rectangle.
  void DrawChar(Canvas& canvas, const LogicalFont& font, const Rect& rect, char ch);

 private:
  // The drawing backend's painter draws with the face's own state.
  friend std::unique_ptr<CodePainter> MakeCodePainter(int width, int height, GlyphFace& face);

  // The rasteriser's state for the loaded face: an outline font engine on
  // Linux, the graphics device interface on Windows. Null when not loaded.
  struct Backend;
  std::unique_ptr<Backend> backend_;
};

// Draws the character alone on a white canvas of width x height, with the
// font, in the rectangle (single line, vertically centred), and returns the
// rightmost column that holds a pure black pixel; 0 when there is no ink.
inline int MeasureInkRight(int width, int height, GlyphFace& face, const LogicalFont& font,
                           const Rect& rect, char ch) {
  Canvas scratch(width, height);
  face.DrawChar(scratch, font, rect, ch);
  return RightmostInk(scratch);
}

}  // namespace sentrel::picturecode
