// The entry function: the command line, then initialise, title, main window,
// event loop.
#include <iostream>

#include "app/application.h"
#include "app/command_line.h"
#include "app/exception.h"
#include "app/form1.h"
#include "app/service_manager.h"

int main(int argc, char** argv) {
  const TCommandLine command_line = ReadCommandLine(argc, argv, std::cout, std::cerr);
  if (command_line.exit_status) return *command_line.exit_status;
  int toolkit_argc = 1;  // the toolkit is given no option of its own
  wxApp::SetInstance(new TApplication);
  bool started = false;
  try {
    Application->Initialize(toolkit_argc, argv);
    started = true;
    Application->SetTitle(kApplicationTitle);
    Application->CreateForm(Form1);
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
  wxEntryCleanup();
  return 0;
}
