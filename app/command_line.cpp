#include "app/command_line.h"

#include <system_error>

namespace {
constexpr char kUsage[] =
    "Usage: hpvisit [--folder DIR] [--run]\n"
    "Loads a web page at a fixed interval; the settings are udat.txt in the settings folder.\n"
    "  --folder DIR  the settings folder (default: the working directory)\n"
    "  --run         press Run once the window is shown: visit now, then every period\n"
    "  --help        show this help\n"
    "  --version     show the version\n";

// A path as UTF-8, for messages.
std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// One argument as CommandLineToArgvW reads it back: in quotes, a quote
// escaped, and the backslashes before a quote (the closing one too) doubled.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') quoted.append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    quoted += c;
  }
  quoted.append(backslashes, L'\\');
  return quoted + L"\"";
}
}  // namespace

TCommandLine ReadCommandLine(const std::vector<std::filesystem::path>& arguments, std::ostream& out,
                             std::ostream& err) {
  TCommandLine line;
  for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
    const std::string option = Utf8(*argument);
    if (option == "--run") {
      line.run = true;
    } else if (option == "--folder" && argument + 1 != arguments.end()) {
      line.folder = *++argument;
    } else if (option == "--help") {
      out << kUsage;
      line.exit_status = 0;
      return line;
    } else if (option == "--version") {
      out << "hpvisit version " HPVISIT_VERSION "\n";
      line.exit_status = 0;
      return line;
    } else {
      err << (option == "--folder" ? "hpvisit: --folder needs a folder\n"
                                   : "hpvisit: unknown option " + option + "\n")
          << kUsage;
      line.exit_status = 2;
      return line;
    }
  }
  return line;
}

bool EnterSettingsFolder(const TCommandLine& line, std::ostream& err) {
  if (!line.folder) return true;
  std::error_code error;
  std::filesystem::current_path(*line.folder, error);
  if (error)
    err << "hpvisit: cannot use the folder " << Utf8(*line.folder) << ": " << error.message() << "\n";
  return !error;
}

std::wstring RestartCommandLine(const std::wstring& folder, bool run) {
  std::wstring line = folder.empty() ? L"" : L"--folder " + Quoted(folder);
  if (run) line += line.empty() ? L"--run" : L" --run";
  return line;
}
