// The atomic save on Windows: the content goes to a new file beside the old
// one, is flushed to the disk, and is moved over the old one in one step.
#include "settings/atomic_write.h"

#include <windows.h>

#include <string>

#include "settings/temporary_files.h"

namespace {

bool WriteAll(HANDLE file, const std::string& content) {
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return ::FlushFileBuffers(file) != 0;
}

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

}  // namespace

std::error_code ReplaceFileAtomically(const std::filesystem::path& path, const std::string& content) {
  std::error_code error;
  // The content in a new file, whole and on the disk; on failure the file is gone again.
  const std::filesystem::path temp = MakeUnderTemporaryName(path, [&](const std::filesystem::path& name) {
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = LastError();
      return ::GetLastError() == ERROR_FILE_EXISTS ? TMade::kNameTaken : TMade::kFailed;
    }
    const bool written = WriteAll(file, content);
    if (!written) error = LastError();
    if (::CloseHandle(file) && written) return TMade::kMade;
    if (!error) error = LastError();
    ::DeleteFileW(name.c_str());
    return TMade::kFailed;
  });
  if (temp.empty()) return error;
  if (!::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastError();
    ::DeleteFileW(temp.c_str());
    return error;
  }
  return {};
}
