#pragma once

// Lets text boxes, buttons and check boxes take the window's compact layout
// (a 20-pixel text box with a 12-pixel font) instead of the theme's padding.
void UseCompactControls();
