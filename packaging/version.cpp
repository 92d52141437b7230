// The program's version, kept in the executable itself so that
// `strings hpvisit | grep hpvisit` shows which release is installed.
// (The Windows build carries the same number in its VERSIONINFO record.)
[[gnu::used]] extern const char hpvisit_version[] = "hpvisit version " HPVISIT_VERSION;
