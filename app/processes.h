// Processes: this one, whether another is still running, and what runs of
// this program that have ended left behind.
#pragma once

#include <filesystem>
#include <functional>

// This process's id.
long ThisProcessId();

// Whether a process with this id is running now (one of another user too).
bool ProcessIsRunning(long id);

// Some things this program makes carry its process id in their name, so that
// what a run that was killed left can be told from what a running copy uses.
// Removes, from `folder`, every entry whose name `owner` reads such an id from
// (-1: not one of ours) and which `is_ours` accepts (its kind, its owner), where
// that process has ended or is this one.
void RemoveLeftoversOfEndedRuns(
    const std::filesystem::path& folder,
    const std::function<long(const std::filesystem::path::string_type& name)>& owner,
    const std::function<bool(const std::filesystem::directory_entry& entry)>& is_ours);
