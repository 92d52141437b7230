// The entry function: initialise, title, main window, event loop.
#include "app/application.h"
#include "app/exception.h"
#include "app/form1.h"

int main(int argc, char** argv) {
  wxApp::SetInstance(new TApplication);
  bool started = false;
  try {
    Application->Initialize(argc, argv);
    started = true;
    Application->SetTitle(kApplicationTitle);
    Application->CreateForm(Form1);
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
