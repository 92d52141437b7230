#include "pane/sandbox.h"

#include <sys/wait.h>

#include <cerrno>
#include <iterator>
#include <vector>

#include <glib.h>

namespace {

// Starts the trial, once; its process id, or 0 where it could not start.
GPid Trial() {
  static const GPid trial = [] {
    // Spawned by its full path with the descriptors left alone, GLib starts
    // the trial with posix_spawn rather than by copying this whole process.
    gchar* bwrap = g_find_program_in_path(kSandboxTrial[0]);
    if (!bwrap) return GPid(0);
    std::vector<const char*> argv(std::begin(kSandboxTrial), std::end(kSandboxTrial));
    argv[0] = bwrap;
    GPid pid = 0;
    if (!g_spawn_async(nullptr, const_cast<char**>(argv.data()), nullptr,
                       GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_LEAVE_DESCRIPTORS_OPEN |
                                   G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                       nullptr, nullptr, &pid, nullptr))
      pid = 0;
    g_free(bwrap);
    return pid;
  }();
  return trial;
}

}  // namespace

void StartSandboxTrial() { Trial(); }

bool SandboxCanRun() {
  static const bool can_run = [] {
    const GPid trial = Trial();
    if (trial <= 0) return false;
    int status = 0;
    pid_t ended;
    do ended = waitpid(trial, &status, 0);
    while (ended < 0 && errno == EINTR);
    return ended == trial && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }();
  return can_run;
}
