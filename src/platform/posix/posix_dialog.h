// The Linux dialog's own controls (not part of the seam): the terminal or headless mode, the
// streams it uses, and the program name that captions the framework's message boxes.
//
// Headless mode draws nothing. It writes one line on the report stream (stderr) for each of these:
//   status: <text>          the status line (control 104) was set
//   path: <text>            the path line (control 1007) was set
//   box: <text>             a message box was shown (and acknowledged at once)
//   dialog: <caption>       another dialog (the About box) was shown (and closed at once)
//   grayed: <item>          a command named a grayed menu item, which did nothing
//   unknown command: <line> a line on the input stream named no menu item
// A newline inside a text is written as \n and a carriage return as \r. Each line on the input
// stream (stdin) names a menu item by its text without the '&' ("TCP/IP", "Exit", ...), "FS Path
// <folder>" chooses a folder for the folder browser, and "About" is the system menu's About item.
#pragma once

#include <string>

namespace posix {

// Chooses headless (true) or the terminal dialog (false) for the rest of the process.
void SetHeadless(bool headless);
// The mode in force: the one chosen, else headless when the input or the output is no terminal.
bool Headless();

// Where the dialog reads keys or command lines, draws, and writes its headless lines (defaults 0,
// 1 and 2). Changing them forgets buffered input and the end of input.
void SetDialogStreams(int inputFd, int outputFd, int reportFd);

// The application's name as the framework derives it: the program file's name without its
// extension, unless set here.
void SetProgramName(const std::string& name);
std::string ProgramName();

// Back to the state of a fresh process: the mode chosen automatically, the default streams, no
// timers, no pending exit request. Only for use while no dialog or box is running.
void ResetDialog();

} // namespace posix
