#include <cstdio>

#include "tools/commands.h"

namespace sentrel::tools {

int RunMatch(int, char**) {
  std::fprintf(stderr, "sentrel match: not available in this build yet\n");
  return 2;
}

}  // namespace sentrel::tools
