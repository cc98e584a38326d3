// Runs a built program as an administrator would, with arguments passed as
// they are (no shell), text on its standard input, and what it writes to
// standard output and standard error kept apart.
#pragma once

#include <string>
#include <vector>

namespace sentrel::test {

struct ProgramResult {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
  // Both outputs, standard output first.
  std::string Output() const { return out + err; }
};

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = "");

}  // namespace sentrel::test
