#pragma once
// Text from files and command lines made safe for a terminal: control characters (an escape
// sequence hidden in a file name could retitle or reprogram the terminal) are shown as \xHH.

#include <string>

std::string printable(const std::string& text);
