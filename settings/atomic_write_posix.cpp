#include "settings/atomic_write.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

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

// The permissions the file has now, or those a newly created file would get.
mode_t ModeFor(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void SyncDirectory(const std::string& directory) {
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

// Gives the unnamed file `fd` the name `temp`, unused until now.
bool LinkUnnamed(int fd, const std::string& path, std::string& temp) {
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

bool RenameOver(const std::string& temp, const std::string& path) {
  if (::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& content) {
  const std::string directory = DirectoryOf(path);
  const mode_t mode = ModeFor(path);
  std::string temp;

  // Where the file system allows it, the new content is written to a file
  // with no name, so that a process killed while writing leaves nothing behind.
  FileDescriptor unnamed(::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (unnamed.get() >= 0) {
    if (::fchmod(unnamed.get(), mode) != 0 || !WriteAll(unnamed.get(), content) ||
        !LinkUnnamed(unnamed.get(), path, temp))
      return false;
    if (!unnamed.Close()) {
      ::unlink(temp.c_str());
      return false;
    }
  } else {
    std::string pattern = path + ".tmp-XXXXXX";
    FileDescriptor named(::mkostemp(pattern.data(), O_CLOEXEC));
    if (named.get() < 0) return false;
    temp = pattern;
    if (::fchmod(named.get(), mode) != 0 || !WriteAll(named.get(), content) || !named.Close()) {
      ::unlink(temp.c_str());
      return false;
    }
  }
  if (!RenameOver(temp, path)) return false;
  SyncDirectory(directory);
  return true;
}
