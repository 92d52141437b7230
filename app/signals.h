#pragma once

class wxWindow;

// When the system asks the program to stop (SIGTERM, SIGINT, SIGHUP: a logout,
// Ctrl+C, kill), the window is closed as if by the user, so that the settings
// are saved, and the program ends normally. An error box open at that moment
// is closed first: no one is there to answer it.
void CloseOnTerminationSignals(wxWindow* window);
