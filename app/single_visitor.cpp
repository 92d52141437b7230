#include "app/single_visitor.h"

#include <cstdint>
#include <cstdio>
#include <system_error>

#include <wx/msgdlg.h>

#include "app/application.h"
#include "system/processes.h"

std::filesystem::path ThisFolder() {
  // A folder whose links cannot be resolved keeps the name it has.
  std::error_code error;
  const std::filesystem::path here = std::filesystem::current_path(error);
  if (error) return {};
  const std::filesystem::path resolved = std::filesystem::canonical(here, error);
  return OneNameFor(error ? here : resolved);
}

std::string NameForFolder(const std::filesystem::path& folder) {
  // FNV-1a of the bytes of its name (UTF-8 on Windows). A folder without a
  // name gets one no folder has (no name holds a NUL): it shares nothing.
  std::string bytes;
  if (folder.empty()) {
    bytes = std::string(1, '\0') + "process " + std::to_string(ThisProcessId());
  } else {
    const std::u8string name = folder.u8string();
    bytes.assign(name.begin(), name.end());
  }
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ULL;
  char name[32];
  std::snprintf(name, sizeof name, "hpvisit-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

wxString TSingleVisitor::Folder() const { return wxString(folder_.c_str(), *wxConvFileName); }

void TSingleVisitor::HandOver() {
  const TVisitorAnswer answer = BringItForward();
  if (answer.shown) return;
  const wxString program = wxString(L"「") + kApplicationTitle + L"」は、このフォルダーの設定で、";
  const wxString process =
      answer.process > 0 ? wxString::Format(L"（プロセス番号 %ld）", answer.process) : wxString();
  const wxString folder = L"\nフォルダー：" + Folder() + L"\n\n";
  wxString message;
  if (!answer.answered) {
    message = program + L"すでに動いていますが、応答がありません。" + folder + L"ここでは開きません。";
  } else if (answer.service) {
    message = program + L"すでにサービスとして動いています" + process + L"。" + folder +
              L"サービスのウィンドウは見えない画面にあるため、ここには表示できません。"
              L"ここでウィンドウを開くには、先にサービスを止めてください。";
  } else {
    message = program + L"すでに別の画面（" + answer.display + L"）で動いています" + process + L"。" +
              folder + L"そのウィンドウはこの画面には表示できないため、ここでは開きません。";
  }
  wxMessageBox(message, kApplicationTitle, wxOK | wxICON_INFORMATION);
}
