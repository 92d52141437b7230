// Windows: no service manager watches the program (it starts at logon).
#include "app/service_manager.h"

void TakeTheServiceManagerVariables() {}
bool UnderTheServiceManager() { return false; }
void TellTheServiceManagerReady() {}
void TellTheServiceManagerStatus(const std::string&) {}
void KeepTheServiceManagerWatchdogFed(wxEvtHandler*) {}
