// `sentrel`: command-line tools for administrators of the filter.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* summary;
};

const Command kCommands[] = {
    {"lint", sentrel::tools::RunLint, "lint FOLDER            check a settings folder as the filter would load it"},
    {"match", sentrel::tools::RunMatch, "match [-i] PATTERN [SUBJECT...]  test a rule pattern"},
    {"replay", sentrel::tools::RunReplay, "replay FOLDER LOG      dry-run an access log through the filter"},
};

void Usage() {
  std::fprintf(stderr, "usage: sentrel COMMAND [ARGS...]\n\ncommands:\n");
  for (const auto& c : kCommands) std::fprintf(stderr, "  %s\n", c.summary);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return 2;
  }
  for (const auto& c : kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    Usage();
    return 0;
  }
  std::fprintf(stderr, "sentrel: unknown command '%s'\n", argv[1]);
  Usage();
  return 2;
}
