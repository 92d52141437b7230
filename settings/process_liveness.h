// What the save layer asks of the system about processes (one body per
// platform, beside its atomic save).
#pragma once

// This process's id, as the names of its temporary files carry it.
long ThisProcessId();

// Whether a process with this id is running now.
bool ProcessIsRunning(long id);
