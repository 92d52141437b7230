// What the pane reports of each visit, and all that visit/ needs of the pane:
// the engine's facts of how a visit ended, which visit/ puts into words.
#pragma once

#include <wx/string.h>

// How a visit ended.
struct TVisitOutcome {
  enum class Kind {
    kResponse,     // the page was answered: `status` (0 where none is known: an address
                   // that is not http, or a control that does not tell it)
    kUnresolved,   // the host's name could not be resolved
    kRefused,      // the connection was refused
    kUnreachable,  // no route to the server's network or host
    kTimedOut,     // the connection was not made in time (the request did not go out)
    kReset,        // the connection was reset or closed before the answer came
    kIncomplete,   // the answer came and ended before it was whole (closed or reset)
    kCertificate,  // the server's certificate was refused
    kNoAnswer,     // no answer came before the next visit
    kCutShort,     // the answer was still coming when the next visit began
    kLeftByPage,   // the page shown navigated elsewhere, ending the visit's load
    kEngineEnded,  // the engine's process ended (a crash)
    kMemoryLimit,  // the page took more memory than allowed, and its process was ended
    kStopped,      // the program ended while the visit was under way
    kFailed,       // anything else: `detail` says what
  };
  Kind kind = Kind::kFailed;
  int status = 0;         // the page's HTTP status, once its answer came (0 before)
  wxString requested;     // the address as the engine was given it
  wxString address;       // where the visit ended, after any redirect
  wxString detail;        // the engine's own words, for kFailed
  long milliseconds = 0;  // from Navigate to the end
};
