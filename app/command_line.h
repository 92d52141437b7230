// The command line: hpvisit [--folder DIR] [--run | --help | --version].
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct TCommandLine {
  // --folder DIR: the settings folder (udat.txt, and one visitor for it),
  // instead of the working folder the program was started in.
  std::optional<std::filesystem::path> folder;
  // --run: once the window is shown, Run (実行) is pressed, as a person would:
  // a visit now, then one every period of the settings file.
  bool run = false;
  // Set when the program is to end at once with this status: 0 after --help
  // or --version (written to `out`), 2 after anything else (a short usage
  // written to `err`).
  std::optional<int> exit_status;
};

// The program's arguments after its name, as they were given: on Windows read
// as wide text from the process's own command line, so that a folder may hold
// any character (argv has them in the ANSI code page); elsewhere argv's own
// bytes. One body per platform.
std::vector<std::filesystem::path> ProgramArguments(int argc, char** argv);

TCommandLine ReadCommandLine(const std::vector<std::filesystem::path>& arguments, std::ostream& out,
                             std::ostream& err);

// Makes the folder of --folder, if given, the working folder, before anything
// reads it (the settings, the one-visitor lock). Whether it could; if not, why,
// on `err`.
bool EnterSettingsFolder(const TCommandLine& line, std::ostream& err);

// The command line that starts a copy again as it was started, for Windows'
// restart after an update, which keeps a command line but no working folder:
// --folder with the absolute settings folder `folder` (none where it is
// empty), and --run where `run`; quoted as CommandLineToArgvW reads it back.
std::wstring RestartCommandLine(const std::wstring& folder, bool run);
