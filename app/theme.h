#pragma once

// Lets text boxes, buttons and check boxes take the window's compact layout
// (a 20-pixel text box with a 12-pixel font) instead of the theme's padding,
// and a ticked check box look ticked whatever background colour it is given
// (the night indicator's aqua, or the window's own colour).
void UseCompactControls();
