// The save's temporary files and the processes that made them. The name is
// one for every platform (settings/stale_temporaries.cpp, beside the code that
// finds it again); what is asked of the system has one body per platform,
// beside its atomic save.
#pragma once

#include <filesystem>

// The name of a save's temporary file for `file`: "<file>.tmp-<pid>-<attempt>",
// with this process's id.
std::filesystem::path TemporaryName(const std::filesystem::path& file, int attempt);

// This process's id, as the names of its temporary files carry it.
long ThisProcessId();

// Whether a process with this id is running now.
bool ProcessIsRunning(long id);
