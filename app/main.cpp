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

int main(int argc, char** argv) {
  const TCommandLine command_line = ReadCommandLine(ProgramArguments(argc, argv), std::cout, std::cerr);
  if (command_line.exit_status) return *command_line.exit_status;
  if (!EnterSettingsFolder(command_line, std::cerr)) return 2;
  // One visitor per settings folder: started unattended where a copy runs,
  // this one ends at once; started by a person, it brings that copy's window
  // to the front and ends.
  auto visitor = std::make_unique<TSingleVisitor>();
  if (visitor->AnotherVisits() && command_line.run) {
    std::cerr << "hpvisit: another copy already visits from this folder; this one ends\n";
    return 0;
  }
  int toolkit_argc = 1;  // the toolkit is given no option of its own
  wxApp::SetInstance(new TApplication);
  bool started = false;
  try {
    Application->Initialize(toolkit_argc, argv);
    started = true;
    if (visitor->AnotherVisits()) {
      visitor->BringItForward();
      wxEntryCleanup();
      return 0;
    }
    Application->SetTitle(kApplicationTitle);
    Application->CreateForm(Form1);
    visitor->Listen([] {
      Form1->Iconize(false);
      Form1->Show();
      Form1->Raise();
    });
    if (command_line.run) Form1->QueueRunPress();
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
