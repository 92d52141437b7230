// The command line: hpvisit [--run | --help | --version].
#pragma once

#include <optional>
#include <ostream>

struct TCommandLine {
  // --run: once the window is shown, Run (実行) is pressed, as a person would:
  // a visit now, then one every period of the settings file.
  bool run = false;
  // Set when the program is to end at once with this status: 0 after --help
  // or --version (written to `out`), 2 after anything else (a short usage
  // written to `err`).
  std::optional<int> exit_status;
};

TCommandLine ReadCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);
