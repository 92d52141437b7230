// Kills saves at random moments, then counts what the next start's clean-up
// leaves beside the settings file. Built and run by: bench/run kill-saves [DIR] [ROUNDS]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "settings/atomic_write.h"
#include "settings/temporary_files.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const fs::path dir = argv[1];
  const int rounds = std::stoi(argv[2]);
  fs::create_directories(dir);
  const fs::path file = dir / "udat.txt";
  const std::string old_content = "20\r\n1\r\nhttp://a/\r\nhttp://b/", new_content(64 << 10, 'x');
  std::mt19937 random(42);
  int whole = 0, left_before = 0, left_after = 0;
  for (int round = 0; round < rounds; ++round) {
    { std::ofstream(file, std::ios::binary) << old_content; }
    const pid_t child = fork();
    if (child == 0)
      for (;;) ReplaceFileAtomically(file, new_content);
    usleep(random() % 3000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::ifstream in(file, std::ios::binary);
    const std::string now{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    whole += now == old_content || now == new_content;
    for (const auto& entry : fs::directory_iterator(dir)) left_before += entry.path() != file;
    RemoveStaleTemporaries(file);  // what the next start does
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path() == file) continue;
      ++left_after;
      fs::remove(entry.path());
    }
  }
  std::printf("rounds %d, file whole %d, temporaries left by the kills %d, after the next start %d\n",
              rounds, whole, left_before, left_after);
  return left_after == 0 && whole == rounds ? 0 : 1;
}
