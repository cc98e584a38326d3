// The sub-commands of the `sentrel` administrator tool.
#pragma once

namespace sentrel::tools {

// Each takes the arguments after the sub-command name and returns the exit status.
int RunLint(int argc, char** argv);
int RunMatch(int argc, char** argv);
int RunReplay(int argc, char** argv);

}  // namespace sentrel::tools
