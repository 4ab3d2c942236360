#include <windows.h>

#include "console/own_console.hpp"

void hold_own_console_until_key_press() {
    // A shell that started the program is attached to the console too, and
    // the console outlives the program.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) return;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    // Output redirected away from the console is kept elsewhere; input
    // redirected from a file means nobody is expected at the keyboard.
    if (!GetConsoleMode(output, &mode) || !GetConsoleMode(input, &mode)) return;
    // Keys typed while the benchmark ran must not close the window the moment
    // the results appear.
    FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
        // Mouse, focus and resize events, and the release of the key that
        // started the program, are no answer.
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}
