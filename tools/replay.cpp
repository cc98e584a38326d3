#include <cstdio>

#include "tools/commands.h"

namespace sentrel::tools {

int RunReplay(int, char**) {
  std::fprintf(stderr, "sentrel replay: not available in this build yet\n");
  return 2;
}

}  // namespace sentrel::tools
