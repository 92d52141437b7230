// Windows: the common controls already take the window's compact layout.
#include "app/theme.h"

void UseCompactControls() {}
