#include "visit/visit_record.h"

#include <map>

namespace {

using Kind = TVisitOutcome::Kind;

// The standard reason phrase of an HTTP status.
std::string ReasonPhrase(int status) {
  static const std::map<int, const char*> phrases = {
      {200, "OK"}, {201, "Created"}, {202, "Accepted"}, {203, "Non-Authoritative Information"},
      {204, "No Content"}, {205, "Reset Content"}, {206, "Partial Content"},
      {300, "Multiple Choices"}, {301, "Moved Permanently"}, {302, "Found"}, {303, "See Other"},
      {304, "Not Modified"}, {307, "Temporary Redirect"}, {308, "Permanent Redirect"},
      {400, "Bad Request"}, {401, "Unauthorized"}, {402, "Payment Required"}, {403, "Forbidden"},
      {404, "Not Found"}, {405, "Method Not Allowed"}, {406, "Not Acceptable"},
      {407, "Proxy Authentication Required"}, {408, "Request Timeout"}, {409, "Conflict"},
      {410, "Gone"}, {411, "Length Required"}, {412, "Precondition Failed"},
      {413, "Content Too Large"}, {414, "URI Too Long"}, {415, "Unsupported Media Type"},
      {416, "Range Not Satisfiable"}, {417, "Expectation Failed"}, {421, "Misdirected Request"},
      {422, "Unprocessable Content"}, {425, "Too Early"}, {426, "Upgrade Required"},
      {428, "Precondition Required"}, {429, "Too Many Requests"},
      {431, "Request Header Fields Too Large"}, {451, "Unavailable For Legal Reasons"},
      {500, "Internal Server Error"}, {501, "Not Implemented"}, {502, "Bad Gateway"},
      {503, "Service Unavailable"}, {504, "Gateway Timeout"}, {505, "HTTP Version Not Supported"},
      {511, "Network Authentication Required"}};
  const auto found = phrases.find(status);
  return std::to_string(status) + (found == phrases.end() ? "" : std::string(" ") + found->second);
}

// The answer, where one came: "200 OK"; else empty.
std::string Answer(const TVisitOutcome& outcome) {
  return outcome.status != 0 ? ReasonPhrase(outcome.status) : std::string();
}

// The words for each kind of outcome: the record's, its name in the
// journal's fields, and the status line's.
struct TWords {
  const char* record;
  const char* name;
  const wchar_t* status;
};

TWords WordsFor(Kind kind) {
  switch (kind) {
    case Kind::kResponse: return {"loaded", "response", L"読み込み完了"};  // no status known
    case Kind::kUnresolved: return {"name not resolved", "unresolved", L"サーバー名不明"};
    case Kind::kRefused: return {"connection refused", "refused", L"接続拒否"};
    case Kind::kUnreachable: return {"network unreachable", "unreachable", L"ネットワーク到達不能"};
    case Kind::kTimedOut: return {"connection timed out", "connect-timeout", L"接続タイムアウト"};
    case Kind::kReset: return {"connection reset", "reset", L"接続リセット"};
    case Kind::kIncomplete: return {"cut short", "incomplete", L"受信未完了"};
    case Kind::kCertificate: return {"certificate refused", "certificate", L"証明書エラー"};
    case Kind::kNoAnswer: return {"no answer before the next visit", "no-answer", L"タイムアウト"};
    case Kind::kCutShort: return {"cut short by the next visit", "cut-short", L"受信未完了"};
    case Kind::kLeftByPage: return {"ended by the page's own navigation", "left-by-page", L"ページの移動で中断"};
    case Kind::kEngineEnded: return {"engine ended", "engine-ended", L"表示部が異常終了"};
    case Kind::kMemoryLimit: return {"memory limit", "memory-limit", L"メモリー上限超過"};
    case Kind::kStopped: return {"stopped with the program", "stopped", L"終了時に中断"};
    case Kind::kFailed: break;
  }
  return {"failed", "failed", L"読み込み失敗"};
}

}  // namespace

// An answer that came is the outcome of a visit that loaded; it is added to
// one that ended otherwise after its answer came.
std::string OutcomeInRecord(const TVisitOutcome& outcome) {
  const std::string answer = Answer(outcome);
  if (outcome.kind == Kind::kResponse && !answer.empty()) return answer;
  std::string words = WordsFor(outcome.kind).record;
  if (outcome.kind == Kind::kFailed) {
    std::string detail = outcome.detail.utf8_string();
    for (char& c : detail)
      if (c == '"') c = '\'';
    return words + ": " + detail;
  }
  return answer.empty() ? words : words + " after " + answer;
}

namespace {

// What an HTTP error means for the person, where a word is known.
const wchar_t* MeaningOf(int status) {
  static const std::map<int, const wchar_t*> meanings = {
      {400, L"不正なリクエスト"}, {401, L"認証が必要"}, {403, L"アクセス禁止"},
      {404, L"ページなし"}, {405, L"メソッド不可"}, {407, L"プロキシ認証が必要"},
      {408, L"サーバー側で時間切れ"}, {410, L"ページ削除済み"}, {413, L"リクエストが大きすぎる"},
      {414, L"ＵＲＬが長すぎる"}, {429, L"アクセス過多"}, {500, L"サーバー内部"},
      {501, L"サーバー未対応"}, {502, L"中継先の異常"}, {503, L"一時停止中"},
      {504, L"中継先の時間切れ"}};
  const auto found = meanings.find(status);
  return found == meanings.end() ? nullptr : found->second;
}

// Text on one line: a control character (a line feed typed into an address) as a blank.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return text;
}

}  // namespace

std::string VisitRecordLine(const TVisitMade& visit, const TVisitOutcome& outcome) {
  std::string line = "visit " + visit.when.Format("%Y-%m-%dT%H:%M:%S").utf8_string();
  line += std::string(" ") + TriggerName(visit.by);
  line += visit.night ? " night" : " day";
  line += " \"" + OutcomeInRecord(outcome) + "\" " + std::to_string(outcome.milliseconds) + "ms ";
  line += outcome.requested.utf8_string();
  if (outcome.address != outcome.requested) line += " -> " + outcome.address.utf8_string();
  return OneLine(line);
}

bool IsFailure(const TVisitOutcome& outcome) {
  return !(outcome.kind == Kind::kResponse && outcome.status < 400);
}

const char* OutcomeKindName(const TVisitOutcome& outcome) { return WordsFor(outcome.kind).name; }

const char* TriggerName(TVisitBy by) {
  switch (by) {
    case TVisitBy::kRun: return "run";
    case TVisitBy::kTimer: return "timer";
    case TVisitBy::kWake: return "wake";
    case TVisitBy::kRetry: return "retry";
  }
  return "timer";
}

wxString DurationInJapanese(long milliseconds) {
  if (milliseconds < 100) return L"0.1 秒未満";
  if (milliseconds < 59950) return wxString::Format(L"%.1f 秒", milliseconds / 1000.0);
  const long seconds = (milliseconds + 500) / 1000;
  return wxString::Format(L"%ld 分 %ld 秒", seconds / 60, seconds % 60);
}

namespace {

wxString OutcomeInJapanese(const TVisitOutcome& outcome, TTelling telling) {
  const wxString status = wxString::Format("%d", outcome.status);
  if (outcome.kind == Kind::kResponse && outcome.status != 0) {
    if (!IsFailure(outcome)) return L"正常（" + status + L"）";
    const wchar_t* meaning = telling <= TTelling::kWithMeaning ? MeaningOf(outcome.status) : nullptr;
    return status + L" エラー" + (meaning ? L"（" + wxString(meaning) + L"）" : wxString());
  }
  wxString words = WordsFor(outcome.kind).status;
  if (outcome.status != 0) words += L"（" + status + L"）";
  if (telling == TTelling::kInFull && outcome.kind == Kind::kFailed && !outcome.detail.empty())
    words += L"（" + wxString::FromUTF8(OneLine(outcome.detail.utf8_string())) + L"）";
  return words;
}

}  // namespace

wxString VisitInJapanese(const TVisitMade& visit, const TVisitOutcome& outcome, TTelling telling) {
  wxString text = visit.when.Format("%H:%M:%S") + (visit.night ? L"（夜用）" : L"（昼用）") +
                  OutcomeInJapanese(outcome, telling);
  if (telling != TTelling::kShortest) text += L"、" + DurationInJapanese(outcome.milliseconds);
  return text;
}
