#include "pane/engine_folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

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

// The engine's folders in the session's runtime folder that copies of the
// program share: held by each copy, with a shared lock, for as long as it
// runs, so that one that ends, or starts, never removes one another uses.
constexpr const char* kSharedFolders[] = {".flatpak", "webkitgtk"};

// Holds `folder` (made if missing, for this user alone); the open folder that
// keeps it held, or -1.
int Hold(const std::string& folder) {
  for (int tries = 0; tries < 10; ++tries) {
    mkdir(folder.c_str(), 0700);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat held, now;
    // Held only if it is still the folder of that name once locked: another
    // copy may have removed it meanwhile.
    if (flock(fd, LOCK_SH) == 0 && fstat(fd, &held) == 0 && stat(folder.c_str(), &now) == 0 &&
        held.st_dev == now.st_dev && held.st_ino == now.st_ino)
      return fd;
    close(fd);
  }
  return -1;
}

// Removes `folder` where it is empty and no running copy holds it.
void RemoveIfUnheld(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) rmdir(folder.c_str());
  close(fd);
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
  static std::vector<int> held;
  g_setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), TRUE);
  if (has_runtime) {
    RemoveSandboxFolders(session_runtime, false);
    for (const char* shared : kSharedFolders) {
      // Left empty by runs that ended (the engine empties the folder of its
      // message bus proxies only after the program's last code has run).
      RemoveIfUnheld(session_runtime + "/" + shared);
      held.push_back(Hold(session_runtime + "/" + shared));
    }
  } else {
    g_setenv("XDG_RUNTIME_DIR", folder.c_str(), TRUE);  // the sandbox's files go in the folder
  }
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (session_runtime.empty()) return;
    RemoveSandboxFolders(session_runtime, true);
    for (int fd : held) close(fd);
    // Emptied now, but for the proxies' folder where the engine used it (it
    // goes with the next start, or the launcher's end).
    for (const char* shared : kSharedFolders) RemoveIfUnheld(session_runtime + "/" + shared);
  });
}
