// Single key presses from the terminal on standard input, without waiting for
// Enter.
#pragma once

#include "../plugin/plugin.h"

// Waits for the next key and returns its byte (0..255); -1 when standard input
// is not a terminal or the read fails.
PLUGIN_EXPORT int getch();

// 1 when a key is waiting, else 0; never waits, and leaves the key unread.
PLUGIN_EXPORT int kbhit();
