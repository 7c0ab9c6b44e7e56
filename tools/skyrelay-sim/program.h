// What every build of skyrelay-sim shares around the module logic: the options, the answer to one
// request message (the request area named by the message's atom, carried out by the module), and
// the lines it prints. Only the window and its message loop are written per platform.
#pragma once

#include "platform/types.h"
#include "skyrelay-sim/module.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace simprogram {

inline constexpr const char* RequestMessageName = "FsasmLib:IPC";

struct Options {
    std::string className = "UIPCMAIN";
    std::uint32_t moduleVersion = simmodule::DefaultModuleVersion;
    std::uint32_t simVersion = simmodule::DefaultSimVersion;
    std::string logPath;
    bool silent = false;
    bool garble = false;
    std::uint64_t reply = 1;
    std::uint64_t after = 0;  // answered normally before --silent, --reply, --garble, --deny-area
    bool otherRights = false; // every message refused with ERROR_ACCESS_DENIED (Linux only)
    bool denyArea = false;    // no request area may be opened: every message is answered 0
};

// ERROR_ACCESS_DENIED: what a send to a window of another integrity level fails with.
inline constexpr std::uint32_t AccessDenied = 5;

extern const char* const Usage;

enum class Start { Run, Help, Wrong };

// Reads the command line; a wrong option is reported on stderr (the caller then prints the usage
// and exits with status 2).
Start ParseOptions(int argc, char** argv, Options* options);

// Opens the --log file for appending, or null when there is none; *failed tells a file that could
// not be opened (reported on stderr).
std::FILE* OpenLog(const Options& options, bool* failed);

// The start both programs share: the options read (the usage printed for --help or a wrong one)
// and the log opened. Returns -1 to go on, else the exit status to end with.
int Begin(int argc, char** argv, Options* options, std::FILE** log);

// "skyrelay-sim: window "UIPCMAIN" ready at <where> (module version ..., simulator version ...)".
std::string ReadyLine(const Options& options, const std::string& where);

// A request area kept mapped from one message to the next, for a client that sends many over one
// connection: a client numbers each area it creates anew, so a name names the same area for as
// long as the connection lasts. Only the view is kept: the handle is let go once the view is
// mapped, so that the client's closing of its area still removes the name.
struct KeptArea {
    std::string name;
    std::uint8_t* view = nullptr;
    std::size_t size = 0;
};

// Unmaps a kept area.
void ReleaseArea(KeptArea* area);

class Responder {
  public:
    Responder(const Options& options, std::FILE* log);

    // True when --silent holds this message unanswered (the first --after messages are answered).
    bool Holds() const { return options_.silent && answered_ >= options_.after; }

    // Carries out the request area of that name: one --log line per record, one stdout line per
    // traffic record written at 0x1F80, then the damage of --garble. Returns the reply value (1
    // for the first --after messages), or 0 when the area cannot be opened or mapped, or may not
    // be (--deny-area). With `kept`, the area stays mapped there for the next message that names
    // it.
    std::uint64_t Answer(const std::string& areaName, KeptArea* kept = nullptr);

  private:
    const Options& options_;
    simmodule::Module module_;
    std::FILE* log_;
    std::uint64_t answered_ = 0;
};

} // namespace simprogram
