#include "app/command_line.h"

#include <windows.h>

#include <shellapi.h>

std::vector<std::filesystem::path> ProgramArguments(int, char**) {
  std::vector<std::filesystem::path> arguments;
  int count = 0;
  wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!words) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(words[i]);
  ::LocalFree(words);
  return arguments;
}
