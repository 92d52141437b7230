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

// Whether a run of this program with that process id left its private
// folder in `parent`: the sandbox's folders named for that id are its own.
bool MadeAPrivateFolder(const std::string& parent, long pid) {
  std::error_code error;
  for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error))
    if (OwnerIn(it->path().filename(), kPrivatePrefix, IsMkdtempTail) == pid && IsOwnFolder(*it)) return true;
  return false;
}

// The sandbox's folders of this program's runs that have ended, or only of
// this one. The folder that holds them is shared with every other program
// that uses the engine or flatpak, and left as it is, even empty: another
// may have just made it, for a file it is about to write.
void RemoveSandboxFolders(const std::string& runtime, bool only_this_run) {
  RemoveLeftoversOfEndedRuns(
      runtime + "/.flatpak",
      [&runtime, only_this_run](const std::string& name) {
        const long owner = OwnerIn(name, kSandboxPrefix, IsNumber);
        if (owner <= 0) return -1L;
        if (only_this_run) return owner == ThisProcessId() ? owner : -1L;
        return MadeAPrivateFolder(runtime, owner) ? owner : -1L;
      },
      IsOwnFolder);
}

}  // namespace

void UsePrivateFolders() {
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  const bool has_runtime = runtime && *runtime && g_file_test(runtime, G_FILE_TEST_IS_DIR);
  const std::string parent = has_runtime ? runtime : g_get_tmp_dir();
  // What runs that were killed left: the sandbox's folders first, known by
  // the private folder of the same run.
  if (has_runtime) RemoveSandboxFolders(runtime, false);
  RemoveLeftoversOfEndedRuns(
      parent, [](const std::string& name) { return OwnerIn(name, kPrivatePrefix, IsMkdtempTail); },
      IsOwnFolder);
  std::string made = parent + "/" + kPrivatePrefix + std::to_string(getpid()) + "-XXXXXX";
  if (!g_mkdtemp(made.data())) return;  // made with no access for others
  static const std::string folder = made;
  static const std::string session_runtime = has_runtime ? runtime : "";
  g_setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), TRUE);
  if (!has_runtime)
    g_setenv("XDG_RUNTIME_DIR", folder.c_str(), TRUE);  // the sandbox's files go in the folder
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (!session_runtime.empty()) RemoveSandboxFolders(session_runtime, true);
  });
}
