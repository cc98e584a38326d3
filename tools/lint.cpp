#include <cstdio>

#include "tools/commands.h"

namespace sentrel::tools {

int RunLint(int, char**) {
  std::fprintf(stderr, "sentrel lint: not available in this build yet\n");
  return 2;
}

}  // namespace sentrel::tools
