// The entry function: the command line, then initialise, title, main window,
// event loop.
#include <iostream>
#include <memory>

#include "app/application.h"
#include "app/command_line.h"
#include "app/exception.h"
#include "app/form1.h"
#include "app/service_manager.h"
#include "app/single_visitor.h"

namespace {

void BringTheWindowForward() {
  Form1->Iconize(false);
  Form1->Show();
  Form1->Raise();
}

// Under the service manager, where another copy visits from the folder: this
// one is ready and makes no visit until that copy ends, however it ends. It
// then reads the settings that copy saved as it closed, visits at once and
// then every period. Stopped before that, it saves nothing: the folder's
// settings are the visitor's.
void WaitForTheFolder(TSingleVisitor& visitor) {
  Form1->Timer1->SetEnabled(false);
  Form1->ShowVisitStatus();
  auto waiting = std::make_shared<bool>(true);
  Form1->Bind(wxEVT_CLOSE_WINDOW, [waiting](wxCloseEvent& event) {
    if (!*waiting) return event.Skip();
    Form1->Destroy();
  });
  visitor.TakeOverWhenFree([&visitor, waiting] {
    *waiting = false;
    std::cerr << "hpvisit: the copy that visited from " << visitor.Folder().utf8_string()
              << " has ended; this one visits from it now\n";
    Form1->LoadSettings();
    visitor.Listen(BringTheWindowForward);
    Form1->QueueRunPress();
  });
  const std::string process = visitor.Visitor() ? " (process " + std::to_string(visitor.Visitor()) + ")" : "";
  const std::string status = "another copy" + process + " visits from " + visitor.Folder().utf8_string() +
                             "; this one waits, and takes over when it ends";
  std::cerr << "hpvisit: " << status << "\n";
  TellTheServiceManagerStatus(status);
}

}  // namespace

int main(int argc, char** argv) {
  TakeTheServiceManagerVariables();
  const TCommandLine command_line = ReadCommandLine(ProgramArguments(argc, argv), std::cout, std::cerr);
  if (command_line.exit_status) return *command_line.exit_status;
  if (!EnterSettingsFolder(command_line, std::cerr)) return 2;
  // One visitor per settings folder. Where a copy visits, this one, started
  // unattended, ends at once, or waits to take over under the service
  // manager; started by a person, it brings that copy's window to the front,
  // or says where it runs, and ends.
  auto visitor = std::make_unique<TSingleVisitor>();
  const bool waits = command_line.run && UnderTheServiceManager();
  if (!visitor->Visits() && command_line.run && !waits) {
    std::cerr << "hpvisit: another copy already visits from this folder; this one ends\n";
    return 0;
  }
  int toolkit_argc = 1;  // the toolkit is given no option of its own
  wxApp::SetInstance(new TApplication);
  bool started = false;
  try {
    Application->Initialize(toolkit_argc, argv);
    started = true;
    Application->SetTitle(kApplicationTitle);
    if (!visitor->Visits() && !waits) {
      visitor->HandOver();
      visitor.reset();
      wxEntryCleanup();
      return 0;
    }
    Application->CreateForm(Form1);
    if (visitor->Visits()) {
      visitor->Listen(BringTheWindowForward);
      if (command_line.run) Form1->QueueRunPress();
    } else {
      WaitForTheFolder(*visitor);
    }
    // Once the window is shown and Run pressed, in the event loop.
    Form1->CallAfter([] { TellTheServiceManagerReady(); });
    KeepTheServiceManagerWatchdogFed(Application);
    Application->Run();
  } catch (const Exception& error) {
    Application->ShowException(error);
  } catch (...) {
    Application->ShowException(Exception(""));
  }
  if (!started) return 1;  // no display: the program could not run at all
  visitor.reset();  // before the toolkit ends
  wxEntryCleanup();
  return 0;
}
