// The user units under a real systemd user manager: one of the test's own
// (`systemd --user`, as root, in control groups of its own, with a home and a
// runtime folder of the test's), running the build tree's launcher. Skipped,
// with the reason, where such a manager cannot be started.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pane/process_tree.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

class UserService : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "a user manager of the test's own needs root";
    if (!fs::exists(kManager)) GTEST_SKIP() << "no " << kManager << " (package systemd)";
    // Control groups of the manager's own: cgroup v2 alone, or v2 beside v1's
    // systemd hierarchy. Each test's are its own, and so are the journal's
    // entries it selects by them.
    static int tests = 0;
    const std::string name = "hpvisit-test-" + std::to_string(getpid()) + "-" + std::to_string(++tests);
    for (const char* hierarchy : {"/sys/fs/cgroup/unified", "/sys/fs/cgroup/systemd"})
      if (fs::exists(std::string(hierarchy) + "/cgroup.procs")) groups.push_back(hierarchy + ("/" + name));
    if (groups.empty() && fs::exists("/sys/fs/cgroup/cgroup.controllers")) groups.push_back("/sys/fs/cgroup/" + name);
    for (const std::string& group : groups)
      if (mkdir(group.c_str(), 0755) != 0) GTEST_SKIP() << "cannot make the control group " << group;
    if (groups.empty()) GTEST_SKIP() << "no cgroup file system";

    fs::create_directories(home + "/.config/systemd/user");
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    for (const char* unit : {"hpvisit.service", "hpvisit@.service"})
      fs::copy_file(fs::path(HPVISIT_USER_UNITS) / unit, home + "/.config/systemd/user/" + unit);
    // The journal, where the machine runs none: one of the test's own.
    if (!JournalRuns() && fs::exists(kJournal)) {
      made_journal_folders = !fs::exists("/run/log/journal");
      fs::create_directories("/run/systemd/journal");
      journal = fork();
      if (journal == 0) {
        (void)!freopen("/dev/null", "w", stderr);
        execl(kJournal, "systemd-journald", nullptr);
        _exit(127);
      }
      PumpUntil(JournalRuns, 5000);
    }
    // The manager refuses to start where this folder is missing; it goes again
    // as soon as the manager runs, so that nothing else takes systemd for running.
    made_run_folder = mkdir("/run/systemd/system", 0755) == 0;
    manager = fork();
    if (manager == 0) {
      for (const std::string& group : groups) std::ofstream(group + "/cgroup.procs") << getpid();
      setenv("HOME", home.c_str(), 1);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      for (const char* unset : {"DISPLAY", "XAUTHORITY", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) unsetenv(unset);
      (void)!freopen((folder.path() + "/manager.log").c_str(), "w", stderr);
      execl(kManager, "systemd", "--user", nullptr);
      _exit(127);
    }
    const bool up = PumpUntil([&] { return Show("", "Version").size() > 0; }, 20000);
    if (made_run_folder) rmdir("/run/systemd/system");
    ASSERT_TRUE(up) << ReadBytes(folder.path() + "/manager.log");
  }

  void TearDown() override {
    if (manager > 0) {
      Systemctl("stop 'hpvisit*'");
      Systemctl("exit");
      WaitForTheEnd(manager, 20000);
    }
    if (made_run_folder) rmdir("/run/systemd/system");
    if (journal > 0) {
      kill(journal, SIGTERM);
      WaitForTheEnd(journal, 5000);
      std::error_code ignored;
      fs::remove_all("/run/systemd/journal", ignored);
      if (made_journal_folders) fs::remove_all("/run/log/journal", ignored);
    }
    // The manager's own groups, the deepest first.
    for (const std::string& group : groups) {
      std::vector<fs::path> all = {group};
      std::error_code error;
      for (fs::recursive_directory_iterator it(group, error), end; !error && it != end; it.increment(error))
        if (it->is_directory()) all.push_back(it->path());
      for (auto it = all.rbegin(); it != all.rend(); ++it) rmdir(it->c_str());
    }
  }

  // `systemctl --user` with the test's manager; what it printed.
  std::string Systemctl(const std::string& arguments) {
    const std::string command = "HOME=" + home + " XDG_RUNTIME_DIR=" + runtime +
                                " systemctl --user " + arguments + " 2>/dev/null";
    return Output(command);
  }
  // One property of a unit (of the manager, with no unit).
  std::string Show(const std::string& unit, const std::string& property) {
    std::string value = Systemctl("show --value -p " + property + " " + unit);
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }
  // The unit's process of that name (hpvisit, Xvfb), or 0.
  pid_t UnitProcess(const std::string& unit, const std::string& name) {
    const pid_t launcher = std::atoi(Show(unit, "MainPID").c_str());
    if (launcher <= 0) return 0;
    for (const TProcess& process : Descendants(launcher))
      if (process.name == name) return process.pid;
    return 0;
  }
  // A copy opened by hand in `folder`, as from the menu: in the session of
  // the manager's user, on the test's display; once its window is shown.
  pid_t StartByHand(const std::string& folder) {
    const pid_t program = fork();
    if (program == 0) {
      if (chdir(folder.c_str()) != 0) _exit(127);
      setenv("HOME", home.c_str(), 1);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      execl(HPVISIT_BINARY, "hpvisit", nullptr);
      _exit(127);
    }
    EXPECT_TRUE(PumpUntil([&] { return StackingPosition(program) >= 0; }, 20000));
    return program;
  }
  // A settings file whose addresses are `page`, with a period of `minutes`.
  static void WriteSettings(const std::string& folder, int minutes, const std::string& page) {
    fs::create_directories(folder);
    WriteBytes(folder + "/udat.txt", std::to_string(minutes) + "\r\n0\r\n" + page + "\r\n" + page);
  }

  // Whether a journal takes entries on its socket.
  static bool JournalRuns() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/systemd/journal/socket");
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool runs = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return runs;
  }
  // What a command printed.
  static std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
      pclose(pipe);
    }
    return out;
  }

  static constexpr char kManager[] = "/lib/systemd/systemd";
  static constexpr char kJournal[] = "/lib/systemd/systemd-journald";
  pid_t journal = 0;
  bool made_journal_folders = false;
  TempWorkingDirectory folder;
  const std::string home = folder.path() + "/home";
  const std::string runtime = folder.path() + "/runtime";
  std::vector<std::string> groups;
  bool made_run_folder = false;
  pid_t manager = 0;
  TestServer server;
};

// Started, it visits at once, in the folder of the settings file the manual
// names; killed, it is started again and visits again; stopped, it saves its
// settings and leaves no display and none of the sandbox's files behind, and
// takes nothing of other programs' in the session's runtime folder (the
// engine's folders there are theirs too). Neither the engine's processes nor
// the display can speak to the service manager for the program.
TEST_F(UserService, VisitsAtOnceComesBackAfterAKillAndSavesItsSettingsWhenStopped) {
  const std::string settings = home + "/.config/hpvisit";
  EXPECT_EQ(Show("hpvisit", "WorkingDirectory"), settings);
  WriteSettings(settings, 2, server.Url("/page.php"));
  fs::create_directories(runtime + "/.flatpak");
  fs::create_directories(runtime + "/webkitgtk");
  WriteBytes(runtime + "/webkitgtk/another-program", "kept");
  Systemctl("start hpvisit");
  EXPECT_TRUE(server.WaitForRequests("/page.php", 1, 10000));
  std::vector<TProcess> others = Descendants(UnitProcess("hpvisit", "hpvisit"));  // the engine's
  EXPECT_GE(others.size(), 2u) << "the engine's processes are missing";
  others.push_back({UnitProcess("hpvisit", "Xvfb"), "Xvfb", 0});
  for (const TProcess& process : others) {
    std::ifstream environment("/proc/" + std::to_string(process.pid) + "/environ");
    for (std::string variable; std::getline(environment, variable, '\0');)
      for (const char* service : {"NOTIFY_SOCKET=", "WATCHDOG_USEC=", "WATCHDOG_PID="})
        EXPECT_NE(variable.rfind(service, 0), 0u) << process.name << " has " << variable;
  }

  ASSERT_EQ(kill(UnitProcess("hpvisit", "hpvisit"), SIGKILL), 0);
  EXPECT_TRUE(server.WaitForRequests("/page.php", 2, 30000));
  EXPECT_EQ(Show("hpvisit", "NRestarts"), "1");

  const pid_t display = UnitProcess("hpvisit", "Xvfb");
  ASSERT_GT(display, 0);
  Systemctl("stop hpvisit");
  EXPECT_EQ(Show("hpvisit", "Result"), "success");
  EXPECT_EQ(ReadBytes(settings + "/udat.txt"), "2\r\n0\r\n" + server.Url("/page.php") + "\r\n" + server.Url("/page.php"));
  EXPECT_NE(kill(display, 0), 0) << "the display is still running";
  EXPECT_EQ(ReadBytes(runtime + "/webkitgtk/another-program"), "kept");
  EXPECT_TRUE(fs::is_directory(runtime + "/.flatpak"));
  for (const auto& left : fs::directory_iterator(runtime + "/.flatpak"))
    ADD_FAILURE() << left.path() << " of the sandbox is left";
}

// Beside a copy opened by hand in its settings folder, the service's copy is
// ready and makes no visit, its status naming the other copy; stopped then,
// it saves nothing. When that copy closes, it takes over at once, with the
// settings that copy saved as it closed. It never ends, so the service
// manager never starts it again.
TEST_F(UserService, WaitsBesideACopyOpenedByHandAndTakesOverWhenItCloses) {
  const std::string settings = home + "/.config/hpvisit";
  WriteSettings(settings, 60, server.Url("/saved.php"));
  const pid_t by_hand = StartByHand(settings);
  ASSERT_GT(by_hand, 0);
  // Changed behind the copy by hand, which saves over it; in a form the
  // program does not write (LF alone), so that any save shows.
  const std::string stale = "60\n0\n" + server.Url("/stale.php") + "\n" + server.Url("/stale.php");
  WriteBytes(settings + "/udat.txt", stale);
  for (const bool stop_while_waiting : {true, false}) {
    Systemctl("start hpvisit");
    EXPECT_EQ(Show("hpvisit", "ActiveState"), "active");
    EXPECT_NE(Show("hpvisit", "StatusText")
                  .find("another copy (process " + std::to_string(by_hand) + ") visits from " + settings),
              std::string::npos)
        << Show("hpvisit", "StatusText");
    if (!stop_while_waiting) break;
    PumpFor(2000);
    Systemctl("stop hpvisit");
    EXPECT_EQ(Show("hpvisit", "Result"), "success");
    EXPECT_EQ(ReadBytes(settings + "/udat.txt"), stale);
  }
  EXPECT_TRUE(server.Requests().empty());

  kill(by_hand, SIGTERM);  // closed
  const int status = WaitForTheEnd(by_hand, 20000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(server.WaitForRequests("/saved.php", 1, 15000));
  EXPECT_EQ(server.CountRequests("/stale.php"), 0);
  EXPECT_EQ(Show("hpvisit", "NRestarts"), "0");
}

// A stop is a stop however soon it comes after the start: the unit ends with
// success, though the program may not yet have taken the signal in hand.
TEST_F(UserService, AStopAtAnyMomentAfterTheStartEndsTheUnitWithSuccess) {
  WriteSettings(home + "/.config/hpvisit", 60, server.Url("/page.php"));
  for (const int milliseconds : {200, 400, 600}) {
    SCOPED_TRACE(std::to_string(milliseconds) + " ms after the start");
    Systemctl("start --no-block hpvisit");
    PumpFor(milliseconds);
    Systemctl("stop hpvisit");
    EXPECT_EQ(Show("hpvisit", "ActiveState"), "inactive");
    EXPECT_EQ(Show("hpvisit", "Result"), "success");
  }
}

// Two instances of the template, each with its own settings folder and its
// own display, visit their own pages side by side.
TEST_F(UserService, TwoInstancesVisitTheirOwnPagesSideBySide) {
  for (const std::string instance : {"a", "b"}) {
    const std::string settings = home + "/.config/hpvisit/" + instance;
    EXPECT_EQ(Show("hpvisit@" + instance, "WorkingDirectory"), settings);
    WriteSettings(settings, 60, server.Url("/" + instance + ".php"));
  }
  Systemctl("start hpvisit@a hpvisit@b");
  EXPECT_TRUE(server.WaitForRequests("/a.php", 1, 15000));
  EXPECT_TRUE(server.WaitForRequests("/b.php", 1, 15000));
  EXPECT_NE(UnitProcess("hpvisit@a", "Xvfb"), UnitProcess("hpvisit@b", "Xvfb"));
  Systemctl("stop hpvisit@a hpvisit@b");
  for (const std::string instance : {"a", "b"})
    EXPECT_EQ(ReadBytes(home + "/.config/hpvisit/" + instance + "/udat.txt").substr(0, 8), "60\r\n0\r\nh");
}

// Each visit is one journal entry, with the same text as the record's line:
// a failure a warning, an answer under 400 information, with fields a tool can
// select on; the service's status tells the last visit and the next.
TEST_F(UserService, EachVisitIsAJournalEntryWithItsPriorityAndFields) {
  if (!JournalRuns()) GTEST_SKIP() << "no journal";
  const std::string settings = home + "/.config/hpvisit";
  WriteSettings(settings, 60, server.Url("/page.php"));
  const std::string since = Output("date '+%Y-%m-%d %H:%M:%S'");
  TestServer::Response failing;
  failing.status = 500;
  for (const int status : {200, 500, 200}) {
    server.Serve("/page.php", status == 200 ? TestServer::Response{} : failing);
    const int before = server.CountRequests("/page.php");
    Systemctl("restart hpvisit");
    EXPECT_TRUE(server.WaitForRequests("/page.php", before + 1, 15000));
    EXPECT_TRUE(PumpUntil([&] { return Systemctl("status hpvisit").find("last visit ") != std::string::npos; }, 5000));
  }
  EXPECT_NE(Systemctl("status hpvisit").find("\"200 OK\"; next visit "), std::string::npos)
      << Systemctl("status hpvisit");
  // The service's entries: as `journalctl --user -u hpvisit` selects them in a
  // login's user manager; the test's own manager is known by its control group.
  const std::string journalctl = "journalctl --no-pager -o json _SYSTEMD_CGROUP=" +
                                 Show("hpvisit", "ControlGroup") + " --since '" +
                                 since.substr(0, since.size() - 1) + "' ";
  Systemctl("stop hpvisit");
  const auto entries = [&](const std::string& more) {
    std::vector<std::string> visits;
    std::istringstream lines(Output(journalctl + more));
    for (std::string line; std::getline(lines, line);)
      if (line.find("\"MESSAGE\":\"visit ") != std::string::npos) visits.push_back(line);
    return visits;
  };
  EXPECT_TRUE(PumpUntil([&] { return entries("").size() == 3; }, 5000)) << Output(journalctl);
  const std::vector<std::string> warnings = entries("-p warning");
  ASSERT_EQ(warnings.size(), 1u) << Output(journalctl);
  for (const char* field : {"\"HPVISIT_OUTCOME\":\"500 Internal Server Error\"", "\"HPVISIT_STATUS\":\"500\"",
                            "\"HPVISIT_KIND\":\"response\"", "\"HPVISIT_BY\":\"run\"", "\"HPVISIT_TIME_OF_DAY\":\"day\"",
                            "\"PRIORITY\":\"4\"", "\"HPVISIT_MILLISECONDS\":"})
    EXPECT_NE(warnings[0].find(field), std::string::npos) << field << " in " << warnings[0];
  EXPECT_NE(warnings[0].find("\"HPVISIT_ADDRESS\":\"" + server.Url("/page.php") + "\""), std::string::npos);
}

// A program whose event loop has stopped (kill -STOP) no longer feeds the
// service manager's watchdog: it is ended and started again, and visits.
TEST_F(UserService, AProgramWhoseEventLoopStoppedIsStartedAgain) {
  // The unit's own period is 30 s; the test's is shorter, the mechanism the same.
  fs::create_directories(home + "/.config/systemd/user/hpvisit.service.d");
  WriteBytes(home + "/.config/systemd/user/hpvisit.service.d/watchdog.conf",
             "[Service]\nWatchdogSec=3s\nRestartSec=1s\n");
  Systemctl("daemon-reload");
  const std::string settings = home + "/.config/hpvisit";
  WriteSettings(settings, 60, server.Url("/page.php"));
  Systemctl("start hpvisit");
  EXPECT_TRUE(server.WaitForRequests("/page.php", 1, 15000));
  ASSERT_EQ(kill(UnitProcess("hpvisit", "hpvisit"), SIGSTOP), 0);
  EXPECT_TRUE(server.WaitForRequests("/page.php", 2, 3000 + 1000 + 10000));
  EXPECT_EQ(Show("hpvisit", "NRestarts"), "1");
  // A stop is still a clean stop that saves the settings.
  Systemctl("stop hpvisit");
  EXPECT_EQ(Show("hpvisit", "Result"), "success");
  EXPECT_EQ(ReadBytes(settings + "/udat.txt").substr(0, 8), "60\r\n0\r\nh");
}

}  // namespace
