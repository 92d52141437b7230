// Visits on Windows: the visit whose time passed while the machine slept is
// made on waking, as the system tells every window.
#include "tests/visit_fixture.h"

// After the toolkit's headers, which include the system's in the order it needs.
#include <windows.h>

namespace {

// The wall clock moves on over the sleep; the event loop's clock does not.
TEST_F(VisitTest, OnWakingTheVisitWhoseTimePassedIsMadeAtOnce) {
  wxDateTime wall = wxDateTime::Now();
  SetClockForTesting([&] { return wall; });
  form->Edit2->SetValue("60");
  EXPECT_TRUE(RunAndWaitFor("/day.php"));
  const HWND window = static_cast<HWND>(form->GetHandle());
  for (const auto& [slept, visits] : {std::pair{5, 1}, std::pair{120, 2}}) {
    wall += wxTimeSpan::Minutes(slept);
    ::PostMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    if (visits == 1) PumpFor(1500);  // none to come
    EXPECT_TRUE(server.WaitForRequests("/day.php", visits, 5000)) << slept;
    PumpFor(300);
    EXPECT_EQ(server.CountRequests("/day.php"), visits) << slept;
  }
}

}  // namespace
