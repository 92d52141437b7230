#include "app/command_line.h"

std::vector<std::filesystem::path> ProgramArguments(int argc, char** argv) {
  return std::vector<std::filesystem::path>(argv + (argc > 0), argv + argc);
}
