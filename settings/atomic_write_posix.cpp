#include "settings/atomic_write.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "settings/process_liveness.h"

long ThisProcessId() { return ::getpid(); }

bool ProcessIsRunning(long id) {
  // A process of another user is running too, though no signal may be sent to it.
  const auto pid = static_cast<pid_t>(id);
  return id > 0 && pid == id && (::kill(pid, 0) == 0 || errno == EPERM);
}

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& content) {
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return ::fsync(fd) == 0;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a save goes: the file a symbolic link points to, so that the link stays.
std::string TargetOf(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string target = resolved;
  std::free(resolved);
  return target;
}

void SyncDirectory(const std::string& directory) {
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

// A new file takes the process's umask (open applies it); a replaced file
// keeps the permissions it had.
bool KeepMode(int fd, const std::optional<mode_t>& mode) {
  return !mode || ::fchmod(fd, *mode) == 0;
}

// The content in a file with no name, then named `temp`: a process killed
// while writing leaves nothing behind.
bool WriteUnnamed(const std::string& path, const std::string& content,
                  const std::optional<mode_t>& mode, std::string& temp) {
  FileDescriptor fd(::open(DirectoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (fd.get() < 0 || !KeepMode(fd.get(), mode) || !WriteAll(fd.get(), content)) return false;
  const std::string proc = "/proc/self/fd/" + std::to_string(fd.get());
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = TemporaryName(path, attempt).native();
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      if (fd.Close()) return true;
      ::unlink(temp.c_str());
      return false;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// The content in a new file named `temp`, for file systems without unnamed files.
bool WriteNamed(const std::string& path, const std::string& content,
                const std::optional<mode_t>& mode, std::string& temp) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = TemporaryName(path, attempt).native();
    FileDescriptor fd(::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    if (KeepMode(fd.get(), mode) && WriteAll(fd.get(), content) && fd.Close()) return true;
    ::unlink(temp.c_str());
    return false;
  }
  return false;
}

}  // namespace

bool ReplaceFileAtomically(const std::filesystem::path& link_or_path, const std::string& content) {
  const std::string path = TargetOf(link_or_path.native());
  std::optional<mode_t> mode;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

  std::string temp;
  if (!WriteUnnamed(path, content, mode, temp) && !WriteNamed(path, content, mode, temp))
    return false;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncDirectory(DirectoryOf(path));
  return true;
}
