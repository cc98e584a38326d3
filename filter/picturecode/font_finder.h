// Finds the outline font file for the picture code's face through the
// system's font configuration.
#pragma once

#include <optional>
#include <string>

namespace sentrel::picturecode {

struct FontFile {
  std::string path;
  int index = 0;  // face index inside the file
};

// The installed font that best stands for the given family in a heavy,
// upright weight (a family name the system does not have maps to a
// metric-compatible or generic face). When that yields nothing usable, any
// heavy sans-serif face is tried. Empty when no scalable font is installed.
std::optional<FontFile> FindHeavyFace(const char* family);

}  // namespace sentrel::picturecode
