// Where a drawn character's ink ends on the right.
#pragma once

#include "filter/picturecode/canvas.h"
#include "filter/picturecode/glyphs.h"

namespace sentrel::picturecode {

// Draws the character alone on a white canvas of width x height, with the
// font, in the rectangle (single line, vertically centred), and returns the
// rightmost column that holds a pure black pixel; 0 when there is no ink.
int MeasureInkRight(int width, int height, GlyphFace& face, const LogicalFont& font,
                    const Rect& rect, char ch);

// The rightmost column of the canvas that holds a pure black pixel; 0 when
// there is none.
int RightmostInk(const Canvas& canvas);

}  // namespace sentrel::picturecode
