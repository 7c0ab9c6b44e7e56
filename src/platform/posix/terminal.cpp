#include "platform/posix/terminal.h"

#include <cerrno>
#include <cstdlib>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace posix {
namespace {

// What the terminal was before the dialog took it over.
struct TerminalState {
    bool entered = false; // the alternate screen is on
    bool raw = false;     // saved holds the settings to put back on the input
    int inputFd = -1;
    int outputFd = -1;
    termios saved{};
};

TerminalState& Saved() {
    static TerminalState state;
    return state;
}

constexpr std::string_view enterSequence = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J";
constexpr std::string_view leaveSequence = "\x1b[0m\x1b[?25h\x1b[?1049l";

void RestoreAtExit() {
    LeaveTerminal();
}

} // namespace

void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void EnterTerminal(int inputFd, int outputFd) {
    TerminalState& state = Saved();
    if (state.entered)
        return;
    static bool registered = false;
    if (!registered) {
        std::atexit(&RestoreAtExit);
        registered = true;
    }
    state.inputFd = inputFd;
    state.outputFd = outputFd;
    if (isatty(inputFd) && tcgetattr(inputFd, &state.saved) == 0) {
        termios raw = state.saved;
        // Keys one at a time, unechoed; Ctrl-C arrives as a key, so the dialog's own exit runs.
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | ISTRIP);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        state.raw = tcsetattr(inputFd, TCSAFLUSH, &raw) == 0;
    }
    WriteAll(outputFd, enterSequence);
    state.entered = true;
}

void LeaveTerminal() {
    TerminalState& state = Saved();
    if (!state.entered)
        return;
    WriteAll(state.outputFd, leaveSequence);
    if (state.raw)
        tcsetattr(state.inputFd, TCSAFLUSH, &state.saved);
    state.raw = false;
    state.entered = false;
}

TerminalSize QueryTerminalSize(int outputFd) {
    winsize size{};
    TerminalSize result;
    if (ioctl(outputFd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        result.columns = size.ws_col;
        result.rows = size.ws_row;
    }
    return result;
}

} // namespace posix
