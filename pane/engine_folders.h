// Where the engine keeps its own files. The engine and its media framework
// keep caches (the media framework's list of its plugins) and per-session
// files (the sandbox's) in the folders the environment names; they are given
// a private folder, removed when the program ends, and the sandbox's files of
// this run are removed too: nothing of theirs is left in HOME, the working
// directory or the session's runtime folder. What a run that was killed left
// is removed by the next run. Only what the program made goes: the folders
// the engine shares there with other programs (.flatpak, webkitgtk) stay,
// even empty.
#pragma once

// Set up before the toolkit and the engine start, so that both, and the
// engine's processes, take it.
void UsePrivateFolders();
