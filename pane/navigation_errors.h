// What the Windows browser control's navigation-error event says, as the
// outcome of a visit: the HTTP status of an answer that came (404, 500, ...),
// or the control's own code for a failure (name not resolved, connection
// refused or reset, certificate refused, ...).
#pragma once

#include "pane/visit_outcome.h"

// Sets `outcome`'s kind, and its status or detail, from the event's status code.
void DescribeNavigationError(long status_code, TVisitOutcome& outcome);
