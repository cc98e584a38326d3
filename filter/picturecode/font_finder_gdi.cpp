// On Windows the graphics device interface finds fonts by face name: the
// face is the family asked for, and its "path" is that name. The interface's
// font mapper stands in the nearest installed font when the face itself is
// not installed.
#include "filter/picturecode/font_finder.h"

namespace sentrel::picturecode {

std::optional<FontFile> FindHeavyFace(const char* family) {
  if (family == nullptr || *family == '\0') return std::nullopt;
  return FontFile{family, 0};
}

}  // namespace sentrel::picturecode
