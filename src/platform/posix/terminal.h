// The terminal under the dialog: raw keys, the alternate screen, and putting everything back.
#pragma once

#include <string_view>

namespace posix {

// Switches to raw keys (when the input is a terminal), the alternate screen and a hidden cursor.
// The terminal is put back by LeaveTerminal and, whatever happens, at process exit.
void EnterTerminal(int inputFd, int outputFd);
void LeaveTerminal();

struct TerminalSize {
    int columns = 80;
    int rows = 24;
};
// The output terminal's size, 80 x 24 when it has none.
TerminalSize QueryTerminalSize(int outputFd);

// Writes all of the bytes, retrying interrupted and partial writes; gives up on an error.
void WriteAll(int fd, std::string_view bytes);

} // namespace posix
