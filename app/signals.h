#pragma once

class wxWindow;

// When the system asks the program to stop (SIGTERM, SIGINT, SIGHUP: a logout,
// Ctrl+C, kill), the window is closed as if by the user, so that the settings
// are saved, and the program ends normally.
void CloseOnTerminationSignals(wxWindow* window);
