// The state of a face in the graphics-device-interface backend: the face name
// handed to CreateFontA. The interface's font mapper picks the installed font
// that best fits the name and the other font parameters.
#pragma once

#include <string>

#include "filter/picturecode/glyphs.h"

namespace sentrel::picturecode {

struct GlyphFace::Backend {
  std::string faceName;
};

}  // namespace sentrel::picturecode
