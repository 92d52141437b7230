// What the tests need of GTK, X11 and the desktop's folders themselves.
#include <gtk/gtk.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "tests/support.h"

// Last: the X headers' macros clash with names in the headers above.
#include <X11/Xlib.h>

std::vector<std::string> FilesWrittenUnderHome() {
  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(TestHome())) {
    const std::string path = entry.path().string().substr(TestHome().size());
    bool platforms_own = false;
    for (const char* own : {"/.runtime", "/.cache/fontconfig", "/.cache/mesa_shader_cache", "/.cache/dconf"})
      platforms_own |= path.rfind(own, 0) == 0;
    // Folders count too, but for those the tests made.
    for (const char* made : {"/.cache", "/.cache/gstreamer-1.0"}) platforms_own |= path == made;
    if (!platforms_own) written.push_back(path);
  }
  return written;
}

StandardErrorCapture::StandardErrorCapture() : file_(std::tmpfile()) {
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  dup2(fileno(file_), STDERR_FILENO);
}

StandardErrorCapture::~StandardErrorCapture() {
  std::fflush(stderr);
  dup2(saved_, STDERR_FILENO);
  close(saved_);
  std::fclose(file_);
}

std::string StandardErrorCapture::Text() const {
  std::fflush(stderr);
  std::string text(static_cast<std::size_t>(lseek(fileno(file_), 0, SEEK_END)), '\0');
  text.resize(static_cast<std::size_t>(pread(fileno(file_), text.data(), text.size(), 0)));
  return text;
}

std::vector<std::string> StandardErrorCapture::Lines(const std::string& prefix) const {
  std::vector<std::string> lines;
  std::istringstream text(Text());
  for (std::string line; std::getline(text, line);)
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  return lines;
}

int WaitForTheEnd(pid_t child, int timeout_ms) {
  int status = -1;
  bool ended = false;
  PumpUntil([&] { return ended = ended || waitpid(child, &status, WNOHANG) == child; }, timeout_ms);
  if (ended) return status;
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return -1;
}

void CloseWindowAsTheUserDoes(wxWindow* window) { gtk_window_close(GTK_WINDOW(window->GetHandle())); }

namespace {

// Calls `seen` with each shown top-level window on the display, from the back
// to the front, and the bytes of its property `name` of `type`.
void ForEachShownWindow(const char* name, const char* type,
                        const std::function<void(unsigned index, const std::string& value)>& seen) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return;
  const Atom property = XInternAtom(display, name, False), kind = XInternAtom(display, type, False);
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable)
      continue;
    Atom found_type;
    int format;
    unsigned long length, after;
    unsigned char* value = nullptr;
    if (XGetWindowProperty(display, children[i], property, 0, 256, False, kind, &found_type, &format,
                           &length, &after, &value) == Success && value) {
      // Items of 32 bits are held as longs.
      const std::size_t item = format == 32 ? sizeof(long) : format / 8;
      seen(i, std::string(reinterpret_cast<char*>(value), length * item));
      XFree(value);
    }
  }
  if (children) XFree(children);
  XCloseDisplay(display);
}

}  // namespace

int StackingPosition(long owner) {
  int position = -1;
  ForEachShownWindow("_NET_WM_PID", "CARDINAL", [&](unsigned index, const std::string& value) {
    if (value.size() == sizeof(long) && *reinterpret_cast<const long*>(value.data()) == owner)
      position = static_cast<int>(index);
  });
  return position;
}

int WindowsTitled(const wxString& title) {
  int found = 0;
  ForEachShownWindow("_NET_WM_NAME", "UTF8_STRING", [&](unsigned, const std::string& value) {
    found += wxString::FromUTF8(value.data(), value.size()) == title;
  });
  return found;
}
