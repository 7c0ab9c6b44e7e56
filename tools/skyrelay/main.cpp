// skyrelay: the relay on Linux. The main dialog runs in the terminal, or headless with its status
// and path lines and message boxes written to stderr and menu commands read from stdin.
#include "platform/posix/posix_dialog.h"
#include "shell/relay_app.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char Usage[] =
    "usage: skyrelay [--headless]\n"
    "\n"
    "Joins the simulator's multiplayer session, writes the other aircraft into the simulator\n"
    "(skyrelay-sim stands in for it on Linux) and publishes them in the shared memory block\n"
    "\"AIFile\" (read it with skyrelay-aifile).\n"
    "\n"
    "  --headless   draw nothing: status and path lines and message boxes go to stderr as\n"
    "               \"status: ...\", \"path: ...\", \"box: ...\"; each line on stdin is a menu\n"
    "               command by its text (\"TCP/IP\", \"IPX/SPX\", \"Using SquawkBox\",\n"
    "               \"Manual connect only\", \"FS Path <folder>\", \"About\", \"Exit\").\n"
    "               Chosen by itself when stdin or stdout is not a terminal.\n"
    "  -h, --help   show this text\n"
    "\n"
    "Settings live in Skyrelay.ini in $SKYRELAY_CONFIG_DIR (else $XDG_CONFIG_HOME/skyrelay,\n"
    "else ~/.config/skyrelay). Ctrl-C or SIGTERM ends the program like File > Exit.\n";

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            posix::SetHeadless(true);
        } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "skyrelay: unknown option %s\n\n%s", argv[i], Usage);
            return 2;
        }
    }
    return RunRelayApplication();
}
