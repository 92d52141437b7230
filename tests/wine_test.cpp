// The Windows program as users get it (build-windows/, made by
// scripts/build-windows), run under Wine in the tests' own prefix: its visits
// reach a real server on 127.0.0.1, it keeps udat.txt in code page 932 with
// CR LF, it saves at the session's end, it tells the event log of failed
// visits, and its installer installs, closes and starts it again, and
// uninstalls it without touching the settings.
//
// Wine has no HTML engine here: the browser control makes every request but
// shows nothing, so what is checked is what the server receives.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <glib.h>

#include "app/application.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

const std::string kBuild = HPVISIT_WINDOWS_BUILD;
const std::string kProgram = kBuild + "/hpvisit.exe";
const std::string kDriveWindow = kBuild + "/tests/drive_window.exe";
const std::string kSetup = kBuild + "/hpvisit-1.0.0.0-setup.exe";
// The same installer, but it gives up on copies that have not closed after 5 s, not a minute.
const std::string kSetupShortWait = kBuild + "/tests/setup-short-wait.exe";
const std::string kPrefix = HPVISIT_WINE_PREFIX;
const std::string kName = wxString(kApplicationTitle).utf8_string();
// "/日本.php" as a Japanese Windows system stores it (code page 932), and as UTF-8.
const std::string kJapanesePathCp932 = "/\x93\xfa\x96{.php";
const std::string kJapanesePath = "/日本.php";
const char kMachineLocale[] = "C.UTF-8";

// The Windows name of a file here (Wine's drive Z: is the root), or of a
// file under a drive's own folder.
std::string WindowsPath(const std::string& path, const std::string& drive = "Z:") {
  std::string windows = drive + path;
  for (char& c : windows)
    if (c == '/') c = '\\';
  return windows;
}

// Starts `args` under Wine in the prefix, in the working directory, by
// default with a Japanese system locale (code page 932). (Without the system's
// own ja_JP locale, Wine then cannot name files in Japanese: the installer
// runs in the machine's locale.) With `output`, what it writes to standard
// output and error, and the Wine debug channels `debug` turn on, go to that file.
pid_t StartUnderWine(const std::vector<std::string>& args, const char* locale = "ja_JP.UTF-8",
                     const std::string& output = "", const char* debug = "-all") {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!output.empty()) {
      const int file = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(file, 1);
      dup2(file, 2);
    }
    setenv("WINEPREFIX", kPrefix.c_str(), 1);
    setenv("WINEDEBUG", debug, 1);
    setenv("WINEDLLOVERRIDES", "mscoree=;appwiz.cpl=", 1);
    setenv("LC_ALL", locale, 1);
    std::vector<char*> argv{const_cast<char*>("wine")};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp("wine", argv.data());
    _exit(127);
  }
  return pid;
}

// Waits (running the event loop, so that the server answers) for `pid` to
// end; its exit status, or -1 when it did not end in time (it is then killed).
int WaitForExit(pid_t pid, int timeout_ms) {
  const int status = WaitForTheEnd(pid, timeout_ms);
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunUnderWine(const std::vector<std::string>& args, const char* locale = "ja_JP.UTF-8",
                 const std::string& output = "") {
  return WaitForExit(StartUnderWine(args, locale, output), 60000);
}

// Waits (up to a minute) until every Wine process of the prefix has ended.
void WaitForWine() {
  const pid_t waiter = fork();
  if (waiter == 0) {
    setenv("WINEPREFIX", kPrefix.c_str(), 1);
    execlp("wineserver", "wineserver", "-w", nullptr);
    _exit(127);
  }
  ASSERT_EQ(WaitForExit(waiter, 60000), 0) << "Wine's processes did not end";
}

// Requests for the Japanese path, in either form a browser control sends it:
// raw code page 932 (Wine's) or percent-encoded UTF-8 (Windows'); never another path.
int VisitsToTheJapanesePath(const TestServer& server) {
  int count = 0;
  for (const TestServer::Request& request : server.Requests()) {
    char* decoded = g_uri_unescape_string(request.path.c_str(), nullptr);
    const std::string path = decoded ? decoded : request.path;
    g_free(decoded);
    count += path == kJapanesePathCp932 || path == kJapanesePath;
  }
  return count;
}

class WindowsProgram : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kProgram) || !fs::exists(kDriveWindow))
      GTEST_SKIP() << "no Windows build in " << kBuild << " (scripts/build-windows)";
  }
};

// A udat.txt written on a Japanese Windows system: minutes too large, LF line
// ends, a day address with a Japanese path in code page 932.
TEST_F(WindowsProgram, VisitsReachTheServerAndClosingWritesCodePage932WithCrLf) {
  TestServer server;
  TempWorkingDirectory dir;
  const std::string day = server.Url(kJapanesePathCp932);
  const std::string night = server.Url("/night.php");
  WriteBytes("udat.txt", "90\n0\n" + day + "\n" + night);
  const pid_t program = StartUnderWine({kProgram});

  // A second copy in the same folder makes no visit and ends: with --run at
  // once, started by hand once it has asked the first to come forward.
  EXPECT_EQ(RunUnderWine({kDriveWindow, "minutes", "60"}), 0);  // the first window is up
  EXPECT_EQ(RunUnderWine({kProgram, "--run"}), 0);
  EXPECT_EQ(RunUnderWine({kProgram}), 0);
  PumpFor(1000);
  EXPECT_EQ(VisitsToTheJapanesePath(server), 0);

  // The first timed visit, a minute after the start: the timer's own.
  EXPECT_TRUE(PumpUntil([&] { return VisitsToTheJapanesePath(server) >= 1; }, 100000));
  EXPECT_EQ(VisitsToTheJapanesePath(server), 1);
  // Run visits at once.
  EXPECT_EQ(RunUnderWine({kDriveWindow, "run"}), 0);
  EXPECT_TRUE(PumpUntil([&] { return VisitsToTheJapanesePath(server) >= 2; }, 20000));
  for (const TestServer::Request& request : server.Requests()) EXPECT_EQ(request.method, "GET");

  // Closed as the user closes it (WM_CLOSE): the settings are written back.
  PumpFor(1000);
  EXPECT_EQ(RunUnderWine({"taskkill", "/im", "hpvisit.exe"}), 0);
  EXPECT_EQ(WaitForExit(program, 30000), 0);
  EXPECT_EQ(ReadBytes("udat.txt"), "60\r\n0\r\n" + day + "\r\n" + night);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});
}

TEST_F(WindowsProgram, EndOfTheSessionSavesTheSettings) {
  TestServer server;
  TempWorkingDirectory dir;
  const std::string day = server.Url("/day.php");
  const std::string night = server.Url("/night.php");
  WriteBytes("udat.txt", "0\n0\n" + day + "\n" + night);
  const pid_t program = StartUnderWine({kProgram});
  EXPECT_EQ(RunUnderWine({kDriveWindow, "run"}), 0);
  EXPECT_TRUE(server.WaitForRequests("/day.php", 1, 20000));

  PumpFor(1000);
  RunUnderWine({"wineboot", "--end-session", "--force"});
  EXPECT_NE(WaitForExit(program, 30000), -1);
  EXPECT_EQ(ReadBytes("udat.txt"), "1\r\n0\r\n" + day + "\r\n" + night);
}

// Minutes that are not a number stop a close by the user (with an error box),
// but never the end of the session: the program ends, and saves the rest of
// its settings with the period last saved.
TEST_F(WindowsProgram, EndOfTheSessionIsNotHeldUpByInvalidMinutes) {
  TempWorkingDirectory dir;
  WriteBytes("udat.txt", "5\n0\nhttp://127.0.0.1:9/day.php\nhttp://127.0.0.1:9/night.php");
  const pid_t program = StartUnderWine({kProgram});
  EXPECT_EQ(RunUnderWine({kDriveWindow, "minutes", "abc"}), 0);
  PumpFor(500);
  RunUnderWine({"wineboot", "--end-session", "--force"});
  EXPECT_NE(WaitForExit(program, 30000), -1);
  EXPECT_EQ(ReadBytes("udat.txt"), "5\r\n0\r\nhttp://127.0.0.1:9/day.php\r\nhttp://127.0.0.1:9/night.php");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"udat.txt"});
}

// Closed in the same instant as a visit starts: the browser control is torn
// down while it loads, and the program still ends normally, having saved.
TEST_F(WindowsProgram, ClosingWhileAVisitStartsEndsNormally) {
  TestServer server;
  TempWorkingDirectory dir;
  const std::string day = server.Url("/day.php");
  WriteBytes("udat.txt", "2\n0\n" + day + "\n" + day);
  const pid_t program = StartUnderWine({kProgram});
  EXPECT_EQ(RunUnderWine({kDriveWindow, "run-and-close"}), 0);
  EXPECT_EQ(WaitForExit(program, 30000), 0);
  EXPECT_EQ(ReadBytes("udat.txt"), "2\r\n0\r\n" + day + "\r\n" + day);
}

// An event as Wine's ReportEventW tells it on its debug channels: its type
// and id (fixme:advapi) and its string (eventlog), "0x0002 0x80000001 visit ...".
std::vector<std::string> EventsReported(const std::string& log) {
  std::vector<std::string> events;
  std::istringstream lines(log);
  std::string line, event;
  while (std::getline(lines, line)) {
    if (const size_t call = line.find("fixme:advapi:ReportEventW ("); call != std::string::npos) {
      // (source,type,category,id,...)
      std::istringstream fields(line.substr(line.find(',', call) + 1));
      std::string type, category, id;
      std::getline(fields, type, ',');
      std::getline(fields, category, ',');
      std::getline(fields, id, ',');
      event = type + " " + id;
    } else if (const size_t text = line.find(":eventlog:ReportEventW L\"");
               text != std::string::npos && !event.empty()) {
      std::string string;
      for (size_t i = text + 25; i + 1 < line.size(); ++i) string += line[i] == '\\' ? line[++i] : line[i];
      events.push_back(event + " " + string);
      event.clear();
    }
  }
  return events;
}

// Installed for all users, the program is the event log's source "hpvisit": a
// failed visit is a warning, the first answer after failures an information
// event, an ordinary answer writes nothing there. Each event's string is the
// visit's line of the record, and its text, read as Event Viewer reads it
// from the message file the installer registered, says what happened; once
// uninstalled, the source is gone. (Wine has no HTML engine here: a page that
// answers 200 fails to show, but 204 No Content is an answer under 400.)
TEST_F(WindowsProgram, FailedVisitsAreWarningsInTheEventLogAndTheRecoveryIsInformation) {
  ASSERT_TRUE(fs::exists(kSetup));
  TestServer server;
  TempWorkingDirectory dir;
  const fs::path programs = fs::path(dir.path()) / "Programs";
  ASSERT_EQ(RunUnderWine({kSetup, "/S", "/AllUsers", "/D=" + WindowsPath(programs)}, kMachineLocale), 0);
  WaitForWine();
  const std::string page = server.Url("/cron.php");
  WriteBytes("udat.txt", "5\n0\n" + page + "\n" + page);
  const std::string log = dir.File("wine.log");
  const pid_t program = StartUnderWine({WindowsPath(programs / "hpvisit.exe")}, "ja_JP.UTF-8", log,
                                       "-all,fixme+advapi,+eventlog");
  // Answered, down, answered again, answered.
  for (const int status : {204, 503, 204, 204}) {
    TestServer::Response response;
    response.status = status;
    response.body = "";
    server.Serve("/cron.php", response);
    const int before = server.CountRequests("/cron.php");
    EXPECT_EQ(RunUnderWine({kDriveWindow, "run"}), 0);
    EXPECT_TRUE(server.WaitForRequests("/cron.php", before + 1, 20000));
    PumpFor(500);
  }
  EXPECT_EQ(RunUnderWine({"taskkill", "/im", "hpvisit.exe"}), 0);
  EXPECT_EQ(WaitForExit(program, 30000), 0);

  std::vector<std::string> visits;  // the record's lines, in text mode: CR LF
  std::istringstream lines(ReadBytes(log));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("visit ", 0) == 0) visits.push_back(line.substr(0, line.find('\r')));
  ASSERT_EQ(visits.size(), 4u) << ReadBytes(log);
  EXPECT_NE(visits[1].find("\"503 Service Unavailable\""), std::string::npos) << visits[1];
  EXPECT_NE(visits[2].find("\"204 No Content\""), std::string::npos) << visits[2];
  EXPECT_EQ(EventsReported(ReadBytes(log)),
            (std::vector<std::string>{"0x0002 0x80000001 " + visits[1], "0x0004 0x40000002 " + visits[2]}));

  const auto event_text = [&](const char* id, const std::string& line) {
    const std::string text = dir.File("event.txt");
    return RunUnderWine({kDriveWindow, "event-text", id, line}, "ja_JP.UTF-8", text) == 0 ? ReadBytes(text)
                                                                                          : "";
  };
  EXPECT_EQ(event_text("0x80000001", visits[1]), "ページの訪問に失敗しました。\r\n" + visits[1] + "\r\n");
  EXPECT_EQ(event_text("0x40000002", visits[2]),
            "ページの応答が戻りました。\r\n" + visits[2] + "\r\n");
  EXPECT_EQ(RunUnderWine({WindowsPath(programs / "uninstall.exe"), "/S", "/AllUsers"}, kMachineLocale), 0);
  WaitForWine();
  EXPECT_EQ(event_text("0x80000001", visits[1]), "");
}

// The prefix's user folder (C:\users\<name>).
fs::path UserFolder() {
  for (const auto& user : fs::directory_iterator(kPrefix + "/drive_c/users"))
    if (fs::exists(user.path() / "Documents")) return user.path();
  return {};
}

// The Windows name of a folder under the prefix's drive C:.
std::string OnDriveC(const fs::path& path) {
  return WindowsPath("/" + fs::relative(path, kPrefix + "/drive_c").string(), "C:");
}

// Started from another folder with --folder naming a folder with a space and
// characters the code page lacks (in the machine's locale: Wine then names
// files in UTF-8), the program keeps its settings there: it visits the page
// that folder's udat.txt names, and closed, writes that file back and no other.
TEST_F(WindowsProgram, FolderOptionKeepsTheSettingsInThatFolder) {
  TestServer server;
  TempWorkingDirectory dir;
  const fs::path folder = UserFolder() / "ペ ージ 𠮷";
  fs::create_directories(folder);
  const std::string page = server.Url("/folder.php");
  WriteBytes(folder / "udat.txt", "5\n0\n" + page + "\n" + page);
  const pid_t program = StartUnderWine({kProgram, "--folder", OnDriveC(folder), "--run"}, kMachineLocale);
  EXPECT_TRUE(server.WaitForRequests("/folder.php", 1, 20000));
  PumpFor(1000);
  EXPECT_EQ(RunUnderWine({"taskkill", "/im", "hpvisit.exe"}), 0);
  EXPECT_EQ(WaitForExit(program, 30000), 0);
  EXPECT_EQ(ReadBytes(folder / "udat.txt"), "5\r\n0\r\n" + page + "\r\n" + page);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
  EXPECT_EQ(dir.List(), std::vector<std::string>{});
  fs::remove_all(folder);
}

// The installer installs (here with "start at logon"); the Startup shortcut
// starts the program with --run in the shortcut's working folder, where it
// keeps udat.txt: it visits at once. Installing again over two running
// copies, in two folders, one of them with minutes that are not a number,
// closes both as the end of the session does, so that they save their
// settings, and starts them again as they were once the files are replaced:
// the one with --run visits at once. An install that gives up on a third
// copy that does not close ends with a failure, and first starts again the
// two it closed. Uninstalling closes them again, and removes the program and
// its shortcuts; the settings stay.
TEST_F(WindowsProgram, InstallerInstallsStartsAndUninstallsLeavingTheSettings) {
  ASSERT_TRUE(fs::exists(kSetup));
  TestServer server;
  TempWorkingDirectory dir;
  const fs::path programs = fs::path(dir.path()) / "Programs";
  const std::vector<std::string> install = {kSetup, "/S", "/CurrentUser", "/StartAtLogon",
                                            "/D=" + WindowsPath(programs)};
  ASSERT_EQ(RunUnderWine(install, kMachineLocale), 0);
  WaitForWine();
  EXPECT_TRUE(fs::exists(programs / "hpvisit.exe"));
  EXPECT_TRUE(fs::exists(programs / "uninstall.exe"));
  const fs::path user = UserFolder();
  const fs::path menu = user / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs";
  const fs::path shortcut = menu / (kName + ".lnk"), at_logon = menu / "StartUp" / (kName + ".lnk");
  ASSERT_TRUE(fs::exists(shortcut)) << shortcut;
  ASSERT_TRUE(fs::exists(at_logon)) << at_logon;
  // The shortcuts' working folder, made by the installer: Documents\hpvisit.
  const fs::path settings = user / "Documents/hpvisit";
  ASSERT_TRUE(fs::is_directory(settings)) << settings;

  // A copy started by hand here, with its minutes made invalid; then one
  // started at logon, in the shortcuts' folder.
  const std::string here = server.Url("/here.php"), day = server.Url("/installed.php");
  const std::string udat = (settings / "udat.txt").string();
  const auto write_settings = [&] {
    WriteBytes("udat.txt", "4\n0\n" + here + "\n" + here);
    WriteBytes(udat, "7\n0\n" + day + "\n" + day);
  };
  const auto settings_saved = [&] {
    EXPECT_EQ(ReadBytes("udat.txt"), "4\r\n0\r\n" + here + "\r\n" + here);
    EXPECT_EQ(ReadBytes(udat), "7\r\n0\r\n" + day + "\r\n" + day);
  };
  write_settings();
  const pid_t by_hand = StartUnderWine({WindowsPath(programs / "hpvisit.exe")}, kMachineLocale);
  EXPECT_EQ(RunUnderWine({kDriveWindow, "minutes", "abc"}, kMachineLocale), 0);
  EXPECT_EQ(RunUnderWine({"start", OnDriveC(at_logon)}, kMachineLocale), 0);
  EXPECT_TRUE(server.WaitForRequests("/installed.php", 1, 20000));
  PumpFor(1000);

  // Installed over: both closed, both saved, both started again.
  EXPECT_EQ(RunUnderWine(install, kMachineLocale), 0);
  EXPECT_EQ(WaitForExit(by_hand, 30000), 0);
  settings_saved();
  EXPECT_TRUE(server.WaitForRequests("/installed.php", 2, 20000));
  EXPECT_EQ(RunUnderWine({kDriveWindow, "run", "2"}, kMachineLocale), 0);
  EXPECT_TRUE(server.WaitForRequests("/here.php", 1, 20000));
  EXPECT_TRUE(server.WaitForRequests("/installed.php", 3, 20000));

  // Installed over with a third copy, in a folder of its own, that does not
  // close (its process stopped): the other two are closed, saved and started
  // again as they were, and the install ends with a failure.
  const std::string stuck_folder = dir.File("stuck");
  fs::create_directory(stuck_folder);
  WriteBytes(stuck_folder + "/udat.txt", "9\n0\n" + here + "\n" + here);
  fs::current_path(stuck_folder);
  const pid_t stuck = StartUnderWine({WindowsPath(programs / "hpvisit.exe")}, kMachineLocale);
  fs::current_path(dir.path());
  EXPECT_EQ(RunUnderWine({kDriveWindow, "run", "3"}, kMachineLocale), 0);
  EXPECT_TRUE(server.WaitForRequests("/installed.php", 4, 20000));
  PumpFor(1000);
  write_settings();
  kill(stuck, SIGSTOP);
  EXPECT_EQ(RunUnderWine({kSetupShortWait, "/S", "/CurrentUser", "/D=" + WindowsPath(programs)}, kMachineLocale),
            2);
  kill(stuck, SIGCONT);  // asked to close while it was stopped, it closes now
  EXPECT_EQ(WaitForExit(stuck, 30000), 0);
  settings_saved();
  EXPECT_EQ(ReadBytes(stuck_folder + "/udat.txt"), "9\r\n0\r\n" + here + "\r\n" + here);
  EXPECT_TRUE(server.WaitForRequests("/installed.php", 5, 20000));
  const int here_before = server.CountRequests("/here.php");
  EXPECT_EQ(RunUnderWine({kDriveWindow, "run", "2"}, kMachineLocale), 0);
  EXPECT_TRUE(server.WaitForRequests("/here.php", here_before + 1, 20000));

  // Uninstalled, with the minutes of both invalid: both closed and saved, none started again.
  PumpFor(1000);
  write_settings();
  EXPECT_EQ(RunUnderWine({kDriveWindow, "minutes", "abc", "2"}, kMachineLocale), 0);
  EXPECT_EQ(RunUnderWine({WindowsPath(programs / "uninstall.exe"), "/S", "/CurrentUser"}, kMachineLocale), 0);
  WaitForWine();
  settings_saved();
  EXPECT_FALSE(fs::exists(programs / "hpvisit.exe"));
  EXPECT_FALSE(fs::exists(shortcut));
  EXPECT_FALSE(fs::exists(at_logon));
  fs::remove_all(settings);
}

}  // namespace
