#include "app/command_line.h"

#include <string>

namespace {
constexpr char kUsage[] =
    "Usage: hpvisit [--run]\n"
    "Loads a web page at a fixed interval; the settings are udat.txt in the working directory.\n"
    "  --run      press Run once the window is shown: visit now, then every period\n"
    "  --help     show this help\n"
    "  --version  show the version\n";
}  // namespace

TCommandLine ReadCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
  TCommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--run") {
      line.run = true;
    } else if (option == "--help") {
      out << kUsage;
      line.exit_status = 0;
      return line;
    } else if (option == "--version") {
      out << "hpvisit version " HPVISIT_VERSION "\n";
      line.exit_status = 0;
      return line;
    } else {
      err << "hpvisit: unknown option " << option << "\n" << kUsage;
      line.exit_status = 2;
      return line;
    }
  }
  return line;
}
