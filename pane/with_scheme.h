#pragma once

#include <string>

// An address as the user typed it, completed as the platform's own browser
// control completes it: with no scheme ("example.com/a.php",
// "127.0.0.1:8095/x") it is an http address. A host followed by a port is not
// a scheme: what follows its colon is digits up to the path, query, fragment
// or end. Blanks around the address (the settings file's line feed) do not
// count; an empty address stays empty.
std::string WithScheme(const std::string& typed);
