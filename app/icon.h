#pragma once

#include <wx/icon.h>

// The program's icon, the same picture as the desktop entry's.
wxIcon ApplicationIcon();
