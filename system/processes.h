// system/ holds small helpers about processes that more than one part uses.
// It uses nothing of the program's.
//
// Processes: this one, whether another is still running, and what runs of
// this program that have ended left behind.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>

// This process's id.
long ThisProcessId();

// Whether a process with this id is running now (one of another user too).
bool ProcessIsRunning(long id);

// A number in a name as this program writes it (decimal, no sign, no leading
// zero, at most `max_digits` digits), read at `at`, which is moved past it;
// -1 when there is none.
template <class Name>
long NumberInName(const Name& name, std::size_t& at, std::size_t max_digits) {
  const std::size_t start = at;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9') ++at;
  const std::size_t digits = at - start;
  if (digits == 0 || digits > max_digits || (digits > 1 && name[start] == '0')) return -1;
  long number = 0;
  for (std::size_t i = start; i < at; ++i) number = number * 10 + (name[i] - '0');
  return number;
}

// The process id in a name "<prefix><pid>-<rest>", with `rest` set to what
// follows; -1 when the name is not of that form.
template <class Name>
long ProcessIdInName(const Name& name, const Name& prefix, Name& rest) {
  if (name.rfind(prefix, 0) != 0) return -1;
  std::size_t at = prefix.size();
  const long pid = NumberInName(name, at, 9);
  if (pid <= 0 || at >= name.size() || name[at] != '-') return -1;
  rest = name.substr(at + 1);
  return pid;
}

// Some things this program makes carry its process id in their name, so that
// what a run that was killed left can be told from what a running copy uses.
// Removes, from `folder`, every entry whose name `owner` reads such an id from
// (-1: not one of ours) and which `is_ours` accepts (its kind, its owner), where
// that process has ended or is this one.
void RemoveLeftoversOfEndedRuns(
    const std::filesystem::path& folder,
    const std::function<long(const std::filesystem::path::string_type& name)>& owner,
    const std::function<bool(const std::filesystem::directory_entry& entry)>& is_ours);
