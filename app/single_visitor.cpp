#include "app/single_visitor.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include <wx/filename.h>
#include <wx/utils.h>

namespace {

// The working folder as one name: its links resolved, and on Windows in one case.
wxString WorkingFolder() {
  std::error_code error;
  const std::filesystem::path folder =
      std::filesystem::canonical(std::filesystem::current_path(error), error);
  wxFileName name = wxFileName::DirName(wxString(folder.native()));
  name.Normalize(wxPATH_NORM_CASE | wxPATH_NORM_LONG);
  return name.GetFullPath();
}

// A name for the folder, the same in every copy and every version: FNV-1a of
// its UTF-8 path.
wxString NameFor(const wxString& folder) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const unsigned char c : folder.utf8_string()) hash = (hash ^ c) * 0x100000001b3ULL;
  return wxString::Format("hpvisit-%016llx", static_cast<unsigned long long>(hash));
}

// Where the lock and the socket live: the session's runtime folder, else the
// temporary folder (ignored on Windows, where both are kernel objects).
wxString RuntimeFolder() {
  wxString runtime;
  if (wxGetEnv("XDG_RUNTIME_DIR", &runtime) && wxFileName::DirExists(runtime)) return runtime;
  return wxFileName::GetTempDir();
}

}  // namespace

TSingleVisitor::TSingleVisitor() {
  const wxString name = NameFor(WorkingFolder());
  const wxString folder = RuntimeFolder();
  service_ = ServiceFor(name, folder);
  checker_.Create(name + ".lock", folder);
}

TSingleVisitor::~TSingleVisitor() = default;

bool TSingleVisitor::AnotherVisits() { return checker_.IsAnotherRunning(); }

bool TSingleVisitor::BringItForward() { return AskToComeForward(service_); }

void TSingleVisitor::Listen(std::function<void()> forward) {
  server_ = ListenAt(service_, std::move(forward));
}
