#include "pane/engine_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

#include <glib.h>

#include "system/processes.h"

namespace {

namespace fs = std::filesystem;

// The private folder: "hpvisit-<pid>-XXXXXX".
constexpr char kPrivatePrefix[] = "hpvisit-";
// The sandbox's per-process folders in the runtime folder: ".flatpak/webkit-<pid>-<n>".
constexpr char kSandboxPrefix[] = "webkit-";

// The process id in `name` when it is `prefix`, the id, '-', then a tail that
// `tail_is` accepts; else -1.
long OwnerIn(const std::string& name, const std::string& prefix, bool (*tail_is)(const std::string&)) {
  std::string tail;
  const long pid = ProcessIdInName(name, prefix, tail);
  return pid > 0 && tail_is(tail) ? pid : -1;
}

bool IsMkdtempTail(const std::string& tail) { return tail.size() == 6; }
bool IsNumber(const std::string& tail) {
  return !tail.empty() && tail.find_first_not_of("0123456789") == std::string::npos;
}

// A folder of this user's, not a link.
bool IsOwnFolder(const fs::directory_entry& entry) {
  struct stat folder;
  return lstat(entry.path().c_str(), &folder) == 0 && S_ISDIR(folder.st_mode) &&
         folder.st_uid == getuid();
}

// The sandbox's folders of runs that have ended, or only of this one.
void RemoveSandboxFolders(const std::string& runtime, bool only_this_run) {
  RemoveLeftoversOfEndedRuns(
      runtime + "/.flatpak",
      [only_this_run](const std::string& name) {
        const long owner = OwnerIn(name, kSandboxPrefix, IsNumber);
        return only_this_run && owner != ThisProcessId() ? -1 : owner;
      },
      IsOwnFolder);
}

}  // namespace

void UsePrivateFolders() {
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  const bool has_runtime = runtime && *runtime && g_file_test(runtime, G_FILE_TEST_IS_DIR);
  const std::string parent = has_runtime ? runtime : g_get_tmp_dir();
  RemoveLeftoversOfEndedRuns(
      parent, [](const std::string& name) { return OwnerIn(name, kPrivatePrefix, IsMkdtempTail); },
      IsOwnFolder);
  std::string made = parent + "/" + kPrivatePrefix + std::to_string(getpid()) + "-XXXXXX";
  if (!g_mkdtemp(made.data())) return;  // made with no access for others
  static const std::string folder = made;
  static const std::string session_runtime = has_runtime ? runtime : "";
  g_setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), TRUE);
  if (has_runtime) {
    RemoveSandboxFolders(session_runtime, false);
    // The folder of the engine's message bus proxies, which it empties only
    // after the program's last code has run: left empty by a run that ended.
    rmdir((session_runtime + "/webkitgtk").c_str());
  } else {
    g_setenv("XDG_RUNTIME_DIR", folder.c_str(), TRUE);  // the sandbox's files go in the folder
  }
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (session_runtime.empty()) return;
    RemoveSandboxFolders(session_runtime, true);
    rmdir((session_runtime + "/.flatpak").c_str());  // made for these, once nothing else is in it
  });
}
