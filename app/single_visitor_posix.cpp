// The lock is a file in the session's runtime folder (else the temporary
// folder), locked with flock for the program's life: the kernel releases it
// however the program ends, and what the file holds means nothing, so a file
// left by a copy that was killed never keeps a new one from visiting. The
// holder listens on a local socket beside it: a later copy asks it for its
// window there, and a copy that waits to take over stays connected, to learn
// at once that the holder has ended (its end closes the connection).
#include "app/single_visitor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <list>
#include <sstream>
#include <system_error>
#include <thread>

#include <gdk/gdk.h>
#include <glib-unix.h>

#include "app/service_manager.h"

namespace {

namespace fs = std::filesystem;

fs::path RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code error;
  if (runtime && *runtime && fs::is_directory(runtime, error)) return runtime;
  return fs::temp_directory_path(error);
}

// The display this copy's windows are on.
std::string ThisDisplay() {
  GdkDisplay* display = gdk_display_get_default();
  return display ? gdk_display_get_name(display) : "";
}

// The address of the socket at `path`; false when the path is too long for one.
bool AddressOf(const fs::path& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof address.sun_path) return false;
  std::strcpy(address.sun_path, path.c_str());
  return true;
}

// A connection to the holder's socket, or -1.
int Connect(const fs::path& path) {
  sockaddr_un address;
  if (!AddressOf(path, address)) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// The process at the other end of a local connection (0: unknown), and
// whether it is this user's.
long PeerProcess(int fd, bool* own = nullptr) {
  ucred peer{};
  socklen_t size = sizeof peer;
  const bool known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
  if (own) *own = known && peer.uid == getuid();
  return known ? peer.pid : 0;
}

}  // namespace

struct TSingleVisitor::Platform {
  fs::path lock_path, socket_path;
  int lock = -1;           // the folder's lock, held
  bool unlocked = false;   // visits without the lock, which could not be taken at all
  int listener = -1;       // where later copies reach the holder
  guint listening = 0;
  std::function<void()> forward;
  // A later copy connected to the holder: one asking for the window, or one
  // waiting for the holder's end (which says nothing).
  struct Caller {
    Platform* owner;
    int fd;
    guint source;
    std::string request;
  };
  std::list<Caller> callers;
  // Waiting for the holder's end: connected to it, or trying again shortly.
  int watched = -1;
  guint watching = 0;
  long visitor = 0;
  std::function<void()> take_over;

  ~Platform() {
    if (watching) g_source_remove(watching);
    if (watched >= 0) close(watched);
    if (listening) g_source_remove(listening);
    // The names go while the lock is held, then the lock, and only then the
    // connections: a copy waiting for this end finds the folder free.
    if (lock >= 0) {
      if (listener >= 0) unlink(socket_path.c_str());
      unlink(lock_path.c_str());
      close(lock);
    }
    if (listener >= 0) close(listener);
    for (const Caller& caller : callers) {
      g_source_remove(caller.source);
      close(caller.fd);
    }
  }

  // Takes the lock where no copy holds it; whether this copy now visits.
  bool TryToHold() {
    for (int tries = 0; tries < 10; ++tries) {
      const int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0) return CannotLock();
      if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) return false;
        errno = error;
        return CannotLock();
      }
      // Held only if it is still the file of that name: the holder before
      // may have removed it as it ended.
      struct stat held, now;
      if (fstat(fd, &held) == 0 && stat(lock_path.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
          held.st_ino == now.st_ino) {
        lock = fd;
        OpenChannel();
        return true;
      }
      close(fd);
    }
    return CannotLock();
  }

  // The program's job is to visit: where the lock cannot be had at all, this
  // copy visits, and says why it cannot know of others.
  bool CannotLock() {
    std::cerr << "hpvisit: " << lock_path.string() << " cannot be locked (" << std::strerror(errno)
              << "); this copy visits without knowing whether another visits from the folder\n";
    unlocked = true;
    return true;
  }

  // The holder's socket (one left by a holder that was killed is replaced).
  void OpenChannel() {
    sockaddr_un address;
    if (!AddressOf(socket_path, address)) return;
    unlink(socket_path.c_str());
    listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) return;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 16) != 0) {
      close(listener);
      listener = -1;
    }
  }

  static gboolean Accept(gint, GIOCondition, gpointer data) {
    auto* self = static_cast<Platform*>(data);
    const int fd = accept4(self->listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return G_SOURCE_CONTINUE;
    bool own = false;
    PeerProcess(fd, &own);
    if (!own) {  // another user's, where the socket is in the shared temporary folder
      close(fd);
      return G_SOURCE_CONTINUE;
    }
    Caller& caller = self->callers.emplace_back(Caller{self, fd, 0, {}});
    caller.source = g_unix_fd_add(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), Read, &caller);
    return G_SOURCE_CONTINUE;
  }

  // A caller's request, one line: "forward DISPLAY". The answer, one line:
  // "shown" or "elsewhere", then 1 where a service manager runs the holder,
  // then the holder's display.
  static gboolean Read(gint fd, GIOCondition, gpointer data) {
    auto* caller = static_cast<Caller*>(data);
    Platform* self = caller->owner;
    char buffer[256];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return G_SOURCE_CONTINUE;
    if (got > 0) caller->request.append(buffer, got);
    const std::size_t end = caller->request.find('\n');
    if (got > 0 && end == std::string::npos && caller->request.size() < 1024) return G_SOURCE_CONTINUE;
    if (end != std::string::npos && caller->request.rfind("forward ", 0) == 0) {
      const std::string display = ThisDisplay();
      const bool here = caller->request.substr(8, end - 8) == display;
      if (here && self->forward) self->forward();
      const std::string answer = std::string(here ? "shown " : "elsewhere ") +
                                 (UnderTheServiceManager() ? "1 " : "0 ") + display + "\n";
      (void)!send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    close(fd);
    self->callers.remove_if([caller](const Caller& each) { return &each == caller; });
    return G_SOURCE_REMOVE;
  }

  // Connected to the holder, until its end; where it cannot be reached (it
  // is starting, or ending), tried again in a second.
  void Wait() {
    watched = Connect(socket_path);
    if (watched >= 0) {
      visitor = PeerProcess(watched);
      watching = g_unix_fd_add(watched, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), Ended, this);
    } else {
      watching = g_timeout_add_seconds(1, TryAgain, this);
    }
  }

  static gboolean Ended(gint, GIOCondition, gpointer data) {
    auto* self = static_cast<Platform*>(data);
    close(self->watched);
    self->watched = -1;
    return TryAgain(data);
  }

  static gboolean TryAgain(gpointer data) {
    auto* self = static_cast<Platform*>(data);
    self->watching = 0;
    if (!self->TryToHold()) {
      self->Wait();
    } else if (self->take_over) {
      self->take_over();
    }
    return G_SOURCE_REMOVE;
  }
};

std::filesystem::path OneNameFor(const std::filesystem::path& folder) { return folder; }

TSingleVisitor::TSingleVisitor() : folder_(ThisFolder()), platform_(std::make_unique<Platform>()) {
  const fs::path runtime = RuntimeFolder();
  const std::string name = NameForFolder(folder_);
  platform_->lock_path = runtime / (name + ".lock");
  platform_->socket_path = runtime / (name + ".socket");
  platform_->TryToHold();
}

TSingleVisitor::~TSingleVisitor() = default;

bool TSingleVisitor::Visits() const { return platform_->lock >= 0 || platform_->unlocked; }

long TSingleVisitor::Visitor() const { return platform_->visitor; }

TVisitorAnswer TSingleVisitor::BringItForward() {
  TVisitorAnswer answer;
  // The holder opens its socket as it takes the lock: missing only for a
  // moment, or where it cannot be opened at all.
  int fd = -1;
  for (int tries = 0; tries < 20 && (fd = Connect(platform_->socket_path)) < 0; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (fd < 0) return answer;
  answer.process = PeerProcess(fd);
  const std::string request = "forward " + ThisDisplay() + "\n";
  std::string reply;
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    // The holder answers from its event loop, which may still be starting.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pollfd readable{fd, POLLIN, 0};
    char buffer[256];
    while (reply.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) break;
      reply.append(buffer, got);
    }
  }
  close(fd);
  std::istringstream words(reply.substr(0, reply.find('\n')));
  std::string shown, service, display;
  if (!(words >> shown >> service)) return answer;
  std::getline(words >> std::ws, display);
  answer.answered = true;
  answer.shown = shown == "shown";
  answer.service = service == "1";
  answer.display = wxString::FromUTF8(display);
  return answer;
}

void TSingleVisitor::Listen(std::function<void()> forward) {
  platform_->forward = std::move(forward);
  if (platform_->listener >= 0 && !platform_->listening)
    platform_->listening = g_unix_fd_add(platform_->listener, G_IO_IN, Platform::Accept, platform_.get());
}

void TSingleVisitor::TakeOverWhenFree(std::function<void()> take_over) {
  platform_->take_over = std::move(take_over);
  platform_->Wait();
}
