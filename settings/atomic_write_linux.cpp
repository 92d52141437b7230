// The atomic save on Linux: the content is written to a file with no name
// (O_TMPFILE) where the file system has them, flushed, named beside the old
// file, and renamed over it.
#include "settings/atomic_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "settings/temporary_files.h"

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
    if (written == 0) errno = ENOSPC;
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

// The content in a file with no name, then named: a process killed while
// writing leaves nothing behind. Returns the name, or an empty one.
std::string WriteUnnamed(const std::string& path, const std::string& content,
                         const std::optional<mode_t>& mode) {
  FileDescriptor fd(::open(DirectoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (fd.get() < 0 || !KeepMode(fd.get(), mode) || !WriteAll(fd.get(), content)) return {};
  const std::string proc = "/proc/self/fd/" + std::to_string(fd.get());
  return MakeUnderTemporaryName(path, [&](const std::filesystem::path& temp) {
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0)
      return errno == EEXIST ? TMade::kNameTaken : TMade::kFailed;
    if (fd.Close()) return TMade::kMade;
    const int error = errno;
    ::unlink(temp.c_str());
    errno = error;
    return TMade::kFailed;
  });
}

// The content in a new file with a name, for file systems without unnamed files.
std::string WriteNamed(const std::string& path, const std::string& content,
                       const std::optional<mode_t>& mode) {
  return MakeUnderTemporaryName(path, [&](const std::filesystem::path& temp) {
    FileDescriptor fd(::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666));
    if (fd.get() < 0) return errno == EEXIST ? TMade::kNameTaken : TMade::kFailed;
    if (KeepMode(fd.get(), mode) && WriteAll(fd.get(), content) && fd.Close()) return TMade::kMade;
    const int error = errno;
    ::unlink(temp.c_str());
    errno = error;
    return TMade::kFailed;
  });
}

std::error_code LastError() { return {errno, std::generic_category()}; }

}  // namespace

std::error_code ReplaceFileAtomically(const std::filesystem::path& link_or_path,
                                      const std::string& content) {
  const std::string path = TargetOf(link_or_path.native());
  std::optional<mode_t> mode;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

  errno = 0;
  std::string temp = WriteUnnamed(path, content, mode);
  if (temp.empty()) temp = WriteNamed(path, content, mode);
  if (temp.empty()) return errno ? LastError() : std::make_error_code(std::errc::file_exists);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const std::error_code error = LastError();
    ::unlink(temp.c_str());
    return error;
  }
  SyncDirectory(DirectoryOf(path));
  return {};
}
