// WebKit confines web content with bubblewrap. Some containers forbid the
// namespaces it needs; there the web process could not start at all, so the
// sandbox is only asked for where a trial run of bubblewrap succeeds.
#pragma once

// The trial: bubblewrap confining a program that does nothing.
inline constexpr const char* kSandboxTrial[] = {
    "bwrap", "--unshare-all", "--die-with-parent", "--ro-bind", "/", "/", "/bin/true", nullptr};

// Starts the trial, once, alongside whatever the program does meanwhile.
void StartSandboxTrial();

// Whether the trial succeeded (waited for, the first time).
bool SandboxCanRun();
