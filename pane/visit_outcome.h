// What the pane reports of each visit, and all that visit/ needs of the pane:
// the engine's facts of how a visit ended, which visit/ puts into words.
#pragma once

#include <wx/string.h>

// How a visit ended.
struct TVisitOutcome {
  enum class Kind {
    kResponse,     // the page was answered: `status` (0 for an address that is not http)
    kUnresolved,   // the host's name could not be resolved
    kRefused,      // the connection was refused
    kReset,        // the connection was reset or closed before the answer was whole
    kCertificate,  // the server's certificate was refused
    kNoAnswer,     // no answer came before the next visit
    kCutShort,     // the answer was still coming when the next visit began
    kEngineEnded,  // the engine's process ended (a crash, or the memory bound)
    kFailed,       // anything else: `detail` says what
  };
  Kind kind = Kind::kFailed;
  int status = 0;         // the page's HTTP status, once its answer came (0 before)
  wxString requested;     // the address as the engine was given it
  wxString address;       // where the visit ended, after any redirect
  wxString detail;        // the engine's own words, for kFailed
  long milliseconds = 0;  // from Navigate to the end
};
