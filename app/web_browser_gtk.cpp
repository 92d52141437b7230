// The browser pane on WebKitGTK.
#include "app/web_browser.h"

#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <sys/wait.h>
#include <webkit2/webkit2.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kBlank[] = "about:blank";
// The engine's own "internal error", as a failed load reports it.
constexpr char kEngineErrorDomain[] = "WebKitErrorDomain";
constexpr int kInternalError = 300;
// How often the web processes' memory is checked: once a second while they
// hold less than half the limit, which costs nothing at rest, and ten times a
// second above it, so that a page taking memory without end (1 GB a second
// here) gets about 0.1 GB past the limit.
constexpr guint kMemoryCheckAtRestMilliseconds = 1000;
constexpr guint kMemoryCheckNearLimitMilliseconds = 100;

// WebKit confines web content with bubblewrap. Some containers forbid the
// namespaces it needs; there the web process could not start at all, so the
// sandbox is only asked for where a trial run of bubblewrap succeeds. The
// trial is started before the toolkit (TCppWebBrowser::Prepare) and runs
// alongside it; its answer is collected when the engine is set up.

// Starts the trial, once; its process id, or 0 where it could not start.
GPid SandboxTrial() {
  static const GPid trial = [] {
    // Spawned by its full path with the descriptors left alone, GLib starts
    // the trial with posix_spawn rather than by copying this whole process.
    gchar* bwrap = g_find_program_in_path("bwrap");
    if (!bwrap) return GPid(0);
    const char* argv[] = {bwrap,       "--unshare-all", "--die-with-parent", "--ro-bind",
                          "/",         "/",             "/bin/true",         nullptr};
    GPid pid = 0;
    if (!g_spawn_async(nullptr, const_cast<char**>(argv), nullptr,
                       GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_LEAVE_DESCRIPTORS_OPEN |
                                   G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                       nullptr, nullptr, &pid, nullptr))
      pid = 0;
    g_free(bwrap);
    return pid;
  }();
  return trial;
}

bool SandboxCanRun() {
  static const bool can_run = [] {
    const GPid trial = SandboxTrial();
    if (trial <= 0) return false;
    int status = 0;
    pid_t ended;
    do ended = waitpid(trial, &status, 0);
    while (ended < 0 && errno == EINTR);
    return ended == trial && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }();
  return can_run;
}

// The most memory a web process may hold: a quarter of the machine's memory,
// at least 256 MiB and at most 1 GiB. No normal page comes near it.
long long WebMemoryLimit() {
  const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
  const long long quarter = pages > 0 && page_size > 0 ? 1LL * pages * page_size / 4 : 1LL << 30;
  return std::clamp(quarter, 256LL << 20, 1LL << 30);
}

// The memory a process holds now (its resident set); -1 once it is gone.
long long ResidentMemory(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  long long size = 0, resident = -1;
  if (!(statm >> size >> resident)) return -1;
  return resident * sysconf(_SC_PAGESIZE);
}

// The engine's processes: every process started by this one, and theirs
// (through the sandbox). Should the system run out of memory, the kernel is
// to end one of them, which the next visit replaces, rather than this one:
// they are made its likelier choice (raising it needs no privilege). Returns
// the web processes among them.
std::vector<pid_t> EngineWebProcessesMadeFirstToGo() {
  constexpr int kFirstToGo = 1000;
  std::vector<pid_t> web;
  std::vector<std::string> parents = {std::to_string(getpid())};
  while (!parents.empty()) {
    const std::string parent = parents.back();
    parents.pop_back();
    GDir* tasks = g_dir_open(("/proc/" + parent + "/task").c_str(), 0, nullptr);
    if (!tasks) continue;
    while (const char* task = g_dir_read_name(tasks)) {
      std::ifstream children("/proc/" + parent + "/task/" + task + "/children");
      for (std::string child; children >> child;) {
        parents.push_back(child);
        const std::string score = "/proc/" + child + "/oom_score_adj";
        int now = 0;
        if (std::ifstream(score) >> now && now < kFirstToGo) std::ofstream(score) << kFirstToGo;
        std::string name;
        if (std::ifstream("/proc/" + child + "/comm") >> name && name == "WebKitWebProces")
          web.push_back(std::stoi(child));
      }
    }
    g_dir_close(tasks);
  }
  return web;
}

// A run that was killed could not remove its folder; the next run removes
// it. The folder's name carries the process id ("hpvisit-<pid>-XXXXXX"), and
// only this user's folders of runs that have ended are removed.
void RemoveFoldersOfEndedRuns(const std::string& parent) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("hpvisit-", 0) != 0) continue;
    const std::size_t dash = name.find('-', 8);
    if (dash == std::string::npos || dash == 8 || name.size() != dash + 7 ||
        name.find_first_not_of("0123456789", 8) != dash)
      continue;
    const pid_t pid = static_cast<pid_t>(std::strtol(name.c_str() + 8, nullptr, 10));
    struct stat folder;
    if (lstat(it->path().c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        folder.st_uid != getuid() || pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH)
      continue;
    std::error_code ignored;
    fs::remove_all(it->path(), ignored);
  }
}

// The engine and its media framework keep caches (the media framework's list
// of its plugins) and per-session files (the sandbox's) in the folders the
// environment names. They are given a private folder, removed when the
// program ends: nothing of theirs is left in HOME or the working directory.
// Set before the toolkit and the engine start, so that both, and the
// engine's processes, take it.
void UsePrivateFolders() {
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  const bool has_runtime = runtime && *runtime && g_file_test(runtime, G_FILE_TEST_IS_DIR);
  const std::string parent = has_runtime ? runtime : g_get_tmp_dir();
  RemoveFoldersOfEndedRuns(parent);
  std::string made = parent + "/hpvisit-" + std::to_string(getpid()) + "-XXXXXX";
  if (!g_mkdtemp(made.data())) return;  // made with no access for others
  static const std::string folder = made;
  g_setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), TRUE);
  if (!has_runtime) g_setenv("XDG_RUNTIME_DIR", folder.c_str(), TRUE);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
}

// One engine context for the process: in memory only, no cache.
WebKitWebContext* SharedContext() {
  static WebKitWebContext* context = [] {
    WebKitWebContext* ctx = webkit_web_context_new_ephemeral();
    webkit_web_context_set_cache_model(ctx, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    webkit_web_context_set_sandbox_enabled(ctx, SandboxCanRun());
    webkit_website_data_manager_set_tls_errors_policy(
        webkit_web_context_get_website_data_manager(ctx), WEBKIT_TLS_ERRORS_POLICY_FAIL);
    // A download is never wanted: nothing but the settings file is written.
    g_signal_connect(ctx, "download-started",
                     G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer) {
                       webkit_download_cancel(download);
                     }),
                     nullptr);
    return ctx;
  }();
  return context;
}

bool IsAttachment(WebKitURIResponse* response) {
  SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
  if (!headers) return false;
  const char* disposition = soup_message_headers_get_one(headers, "Content-Disposition");
  if (!disposition) return false;
  while (g_ascii_isspace(*disposition)) ++disposition;
  return g_ascii_strncasecmp(disposition, "attachment", 10) == 0;
}

// An address as the user typed it, completed as the platform's own browser
// control completes it: with no scheme ("example.com/a.php",
// "127.0.0.1:8095/x") it is an http address. A host followed by a port is not
// a scheme: what follows its colon is digits up to the path, query, fragment
// or end. Blanks around the address (the settings file's line feed) do not
// count; an empty address stays empty.
std::string WithScheme(const std::string& typed) {
  const char* blanks = " \t\r\n\f\v";
  const std::size_t first = typed.find_first_not_of(blanks);
  if (first == std::string::npos) return typed;
  const std::string address = typed.substr(first, typed.find_last_not_of(blanks) + 1 - first);
  std::size_t at = 0;
  if (g_ascii_isalpha(address[0]))
    while (at < address.size() && (g_ascii_isalnum(address[at]) || std::strchr("+-.", address[at])))
      ++at;
  if (at > 0 && at < address.size() && address[at] == ':') {
    std::size_t digits_end = at + 1;
    while (digits_end < address.size() && g_ascii_isdigit(address[digits_end])) ++digits_end;
    const bool port = digits_end > at + 1 &&
                      (digits_end == address.size() || std::strchr("/?#", address[digits_end]));
    if (!port) return address;  // a scheme of its own
  }
  return "http://" + address;
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer) {
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
      webkit_policy_decision_ignore(decision);  // target=_blank, window.open
      return TRUE;
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
      auto* response_decision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      if (!webkit_response_policy_decision_is_mime_type_supported(response_decision) ||
          IsAttachment(webkit_response_policy_decision_get_response(response_decision))) {
        webkit_policy_decision_ignore(decision);  // it would be a download
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

struct TCppWebBrowser::Engine {
  WebKitWebView* view;
  TCppWebBrowser* owner;
  // The address of a visit not yet finished; whether the engine has started
  // loading it; whether it was started again after losing its web process.
  std::string pending = {};
  bool started = false;
  bool restarted = false;
  // The engine's web processes, as found when a page last began loading;
  // whether one was ended for the memory it held; the check's timer.
  std::vector<pid_t> web_processes = {};
  bool ended_for_memory = false;
  guint memory_watch = 0;

  void Load(const std::string& url) {
    pending = url;
    started = false;
    webkit_web_view_load_uri(view, url.c_str());
  }

  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, Engine* self) {
    // Events of the load before may still arrive after Navigate; only those
    // after this visit's own start speak of it.
    if (event == WEBKIT_LOAD_STARTED) {
      self->started = true;
      self->web_processes = EngineWebProcessesMadeFirstToGo();  // one may be new
    }
    if (event == WEBKIT_LOAD_FINISHED && self->started) self->pending.clear();
  }

  // A visit asked for just as one of the engine's processes died can be lost
  // with it: start it once more in the new process. Only once, so that a page
  // that makes a process crash does not make it crash again and again.
  bool RestartOnce() {
    if (pending.empty() || restarted) return false;
    restarted = true;
    Load(pending);
    return true;
  }

  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                     Engine* self) {
    self->web_processes.clear();
    // A page that took more memory than allowed is not loaded again: its
    // visit was made, and ends here.
    if (std::exchange(self->ended_for_memory, false) && self->started)
      return self->pending.clear();
    self->RestartOnce();
  }

  // A page whose script takes memory without end would take the machine's
  // memory with it, and the engine's own checks wait for the script to
  // pause. Its web process is ended once it holds more than the limit; the
  // next visit starts a new one.
  static gboolean WatchMemory(gpointer data) {
    auto* self = static_cast<Engine*>(data);
    static const long long limit = WebMemoryLimit();
    bool near_limit = false;
    for (pid_t pid : self->web_processes) {
      const long long held = ResidentMemory(pid);
      if (held > limit && kill(pid, SIGKILL) == 0) self->ended_for_memory = true;
      near_limit = near_limit || held > limit / 2;
    }
    self->WatchMemoryIn(near_limit ? kMemoryCheckNearLimitMilliseconds
                                   : kMemoryCheckAtRestMilliseconds);
    return G_SOURCE_REMOVE;
  }

  void WatchMemoryIn(guint milliseconds) {
    memory_watch = g_timeout_add(milliseconds, WatchMemory, this);
  }

  // The process that makes the requests has no signal of its own: a visit
  // lost with it fails with the engine's internal error.
  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error,
                               Engine* self) {
    const bool lost = std::strcmp(g_quark_to_string(error->domain), kEngineErrorDomain) == 0 &&
                      error->code == kInternalError;
    return lost && self->RestartOnce();  // restarted: no error page in its way
  }

  // A page whose script never ends holds its web process, and with it every
  // later visit. When the engine finds the process not answering while a
  // visit waits for it to begin, the process is ended, and the visit starts
  // again in a new one (once, as after a crash). The page that holds the
  // process is left alone until then: its own visit has begun.
  void EndIfStuck() {
    if (!pending.empty() && !started && !restarted &&
        !webkit_web_view_get_is_web_process_responsive(view))
      webkit_web_view_terminate_web_process(view);
  }

  static void OnResponsivenessChanged(WebKitWebView*, GParamSpec*, Engine* self) {
    self->EndIfStuck();
  }

  bool silent() const { return owner->Silent; }

  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, Engine* self) {
    if (!self->silent()) return FALSE;
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
      case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
        break;
      case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);  // never hold up the next visit
        break;
      default:  // alert; a prompt keeps its default answer
        break;
    }
    return TRUE;
  }

  static gboolean OnAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request,
                                 Engine* self) {
    if (!self->silent()) return FALSE;
    webkit_authentication_request_cancel(request);
    return TRUE;
  }

  static gboolean OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request,
                                      Engine* self) {
    if (!self->silent()) return FALSE;
    webkit_permission_request_deny(request);
    return TRUE;
  }

  static gboolean OnFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, Engine* self) {
    if (!self->silent()) return FALSE;
    webkit_file_chooser_request_cancel(request);
    return TRUE;
  }

  static gboolean OnPrint(WebKitWebView*, WebKitPrintOperation*, Engine* self) {
    return self->silent();  // handled: no print dialog
  }

  // The web process is started as soon as the pane is on screen, with a
  // blank page, so that the first visit does not wait for it.
  static void OnFirstMap(GtkWidget* widget, Engine* self) {
    g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(&OnFirstMap), self);
    if (!webkit_web_view_get_uri(self->view)) webkit_web_view_load_uri(self->view, kBlank);
  }

  static gboolean OnShowNotification(WebKitWebView*, WebKitNotification*, Engine* self) {
    return self->silent();
  }
};

TCppWebBrowser::TCppWebBrowser(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                               const wxSize& size)
    : engine_(new Engine{nullptr, this}) {
  WebKitWebView* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(SharedContext()));
  Engine* engine = engine_.get();
  engine->view = view;

  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_enable_page_cache(settings, FALSE);

  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), nullptr);
  g_signal_connect(view, "script-dialog", G_CALLBACK(Engine::OnScriptDialog), engine);
  g_signal_connect(view, "authenticate", G_CALLBACK(Engine::OnAuthenticate), engine);
  g_signal_connect(view, "permission-request", G_CALLBACK(Engine::OnPermissionRequest), engine);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(Engine::OnFileChooser), engine);
  g_signal_connect(view, "print", G_CALLBACK(Engine::OnPrint), engine);
  g_signal_connect(view, "show-notification", G_CALLBACK(Engine::OnShowNotification), engine);
  g_signal_connect(view, "load-changed", G_CALLBACK(Engine::OnLoadChanged), engine);
  g_signal_connect(view, "map", G_CALLBACK(Engine::OnFirstMap), engine);
  g_signal_connect(view, "load-failed", G_CALLBACK(Engine::OnLoadFailed), engine);
  g_signal_connect(view, "notify::is-web-process-responsive",
                   G_CALLBACK(Engine::OnResponsivenessChanged), engine);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(Engine::OnWebProcessTerminated),
                   engine);
  // "create" (window.open) and "close" (window.close) are left unanswered:
  // no window is made and none is closed.

  engine->WatchMemoryIn(kMemoryCheckAtRestMilliseconds);

  gtk_widget_show(GTK_WIDGET(view));
  Create(parent, id, GTK_WIDGET(view));
  SetSize(wxRect(pos, size));
}

TCppWebBrowser::~TCppWebBrowser() {
  g_source_remove(engine_->memory_watch);
  g_signal_handlers_disconnect_by_data(engine_->view, engine_.get());
}

void TCppWebBrowser::Prepare() {
  UsePrivateFolders();
  SandboxTrial();
}

void TCppWebBrowser::Navigate(const wxString& url) {
  engine_->restarted = false;
  engine_->ended_for_memory = false;  // a process ended now takes this visit with it: made again
  engine_->Load(WithScheme(url.utf8_string()));
  engine_->EndIfStuck();  // found not answering before this visit
}

wxString TCppWebBrowser::LocationURL() const {
  const char* uri = webkit_web_view_get_uri(engine_->view);
  return uri && std::strcmp(uri, kBlank) != 0 ? wxString::FromUTF8(uri) : wxString();
}
