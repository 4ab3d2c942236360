#pragma once

// A console program started by a double click gets a console of its own,
// which closes, output and all, the moment the program exits. Called at the
// end of main, after the last write, this waits for a key press when the
// program is the only one attached to its console and both its standard input
// and its standard output are that console. It writes nothing. Run from a
// shell, which shares the console, or with either stream redirected, it
// returns at once; on Linux it does nothing.
#if defined(_WIN32)
void hold_own_console_until_key_press();
#else
inline void hold_own_console_until_key_press() {}
#endif
