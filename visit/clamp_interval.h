#pragma once

// Keeps a visit period in whole minutes within 1 to 60.
constexpr long ClampInterval(long minutes) {
  if (minutes > 60) minutes = 60;
  if (minutes < 1) minutes = 1;
  return minutes;
}
