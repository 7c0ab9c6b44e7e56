// skyrelay-session: the stand-in for the FS2002 multiplayer host and the other pilots. It hosts
// one session over loopback TCP and over the unix socket of the IPX connection (or, with
// --directplay, as a DirectPlay 4 session over TCP/IP), and either flies synthetic peers
// (--aircraft N) or replays a script (--scenario FILE).
#include "dplay_host.h"
#include "host.h"
#include "platform/posix/posix_backend.h"
#include "platform/posix/session_endpoints.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t statusRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

void OnStatusSignal(int) {
    statusRequested = 1;
}

constexpr const char* Usage =
    "usage: skyrelay-session [--aircraft N [--squawkbox] [--rate N] [--stamp]] [--scenario FILE]\n"
    "                        [--port PORT]\n"
    "                        [--directplay [--client32]]\n"
    "  --aircraft N     N synthetic peers (0 to 200) fly circles and send positions\n"
    "  --squawkbox      the peers send ground speeds on the SquawkBox scale (for a relay with\n"
    "                   \"Using SquawkBox\" on); otherwise in metres per second\n"
    "  --rate N         position messages a second from each peer (1 to 50, default 5)\n"
    "  --stamp          the peers' vertical speed is the moment of sending (steady clock, ms mod\n"
    "                   32768), so that a reader of \"AIFile\" can tell the delay\n"
    "  --scenario FILE  replay FILE once the first remote player has joined\n"
    "  --port PORT      loopback TCP port (default $SKYRELAY_SESSION_PORT, else 47624); with\n"
    "                   --directplay the host's TCP port (default 2300; its UDP port is PORT + "
    "50)\n"
    "  --directplay     host a DirectPlay 4 session over TCP/IP on all interfaces, found by the\n"
    "                   clients' broadcast to UDP 47624, instead of the stand-in protocol\n"
    "  --client32       with --directplay: the layouts of 32-bit clients (default: 64-bit)\n"
    "  --enumeration-port PORT  with --directplay: where enumeration requests arrive (default\n"
    "                   47624, the port every DirectPlay client broadcasts to)\n"
    "Scenario lines (one a line, # starts a comment; NAME is one token, %XX in it is byte XX):\n"
    "  join NAME | leave NAME | rename NAME NEWNAME (not with --directplay) | wait MS\n"
    "  pos NAME VS GS HEADINGWORD LAT LON ALTM ALTFRAC | send NAME HEX...\n"
    "  burst NAME COUNT HEX... (COUNT copies at once) | system sessionlost|host | end\n"
    "SIGUSR1 prints a status line (clients, players, messages sent, bytes not yet taken).\n";

bool ParseCount(const char* text, long minimum, long maximum, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= minimum && value <= maximum;
}

int UsageError(const char* message) {
    std::fprintf(stderr, "skyrelay-session: %s\n%s", message, Usage);
    return 2;
}

int HostDirectPlay(session_host::HostOptions options, bool portGiven, bool client32,
                   std::uint16_t enumerationPort) {
    session_host::DirectPlayHostOptions dplayOptions;
    if (portGiven) {
        dplayOptions.tcpPort = options.port;
        dplayOptions.udpPort = static_cast<std::uint16_t>(options.port + 50);
    }
    dplayOptions.layout = client32 ? dplay::Layout::Client32 : dplay::Layout::Client64;
    dplayOptions.enumerationPort = enumerationPort;
    dplayOptions.aircraft = options.aircraft;
    dplayOptions.speedEncoding = options.speedEncoding;
    dplayOptions.rate = options.rate;
    dplayOptions.stamp = options.stamp;
    dplayOptions.script = std::move(options.script);
    session_host::DirectPlayHost host(std::move(dplayOptions));
    std::string error;
    if (!host.Listen(error)) {
        std::fprintf(stderr, "skyrelay-session: %s\n", error.c_str());
        return 1;
    }
    return host.Run(stopRequested);
}

} // namespace

int main(int argc, char** argv) {
    session_host::HostOptions options;
    options.port = posix::SessionPort();
    const char* scenarioPath = nullptr;
    bool aircraftGiven = false;
    bool directPlay = false;
    bool client32 = false;
    bool portGiven = false;
    std::uint16_t enumerationPort = dplay::EnumerationPort;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (option == "--directplay" || option == "--client32") {
            (option == "--directplay" ? directPlay : client32) = true;
            continue;
        }
        if (option == "--squawkbox") {
            options.speedEncoding = session_host::SpeedEncoding::SquawkBox;
            continue;
        }
        if (option == "--stamp") {
            options.stamp = true;
            continue;
        }
        if (i + 1 >= argc)
            return UsageError(("missing value after " + option).c_str());
        const char* value = argv[++i];
        long number = 0;
        if (option == "--aircraft") {
            if (!ParseCount(value, 0, 200, number))
                return UsageError("--aircraft needs a number from 0 to 200");
            options.aircraft = static_cast<int>(number);
            aircraftGiven = true;
        } else if (option == "--rate") {
            if (!ParseCount(value, 1, 50, number))
                return UsageError("--rate needs a number from 1 to 50");
            options.rate = static_cast<int>(number);
        } else if (option == "--scenario") {
            scenarioPath = value;
        } else if (option == "--enumeration-port") {
            if (!ParseCount(value, 1, 65535, number))
                return UsageError("--enumeration-port needs a number from 1 to 65535");
            enumerationPort = static_cast<std::uint16_t>(number);
        } else if (option == "--port") {
            if (!ParseCount(value, 1, 65535, number))
                return UsageError("--port needs a number from 1 to 65535");
            options.port = static_cast<std::uint16_t>(number);
            portGiven = true;
        } else {
            return UsageError(("unknown option " + option).c_str());
        }
    }
    if (scenarioPath != nullptr && aircraftGiven)
        return UsageError("--scenario replaces --aircraft; give one of them");
    if ((client32 || enumerationPort != dplay::EnumerationPort) && !directPlay)
        return UsageError("--client32 and --enumeration-port go with --directplay");
    if (directPlay && portGiven && options.port > 65535 - 50)
        return UsageError("--port with --directplay needs a number up to 65485");

    if (scenarioPath != nullptr) {
        std::ifstream file(scenarioPath, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "skyrelay-session: cannot read %s\n", scenarioPath);
            return 2;
        }
        std::ostringstream text;
        text << file.rdbuf();
        session_host::Scenario script = session_host::ParseScenario(text.str());
        if (script.error) {
            std::fprintf(stderr, "skyrelay-session: %s:%d: %s\n", scenarioPath, script.error->line,
                         script.error->message.c_str());
            return 2;
        }
        if (directPlay)
            for (const session_host::Command& command : script.commands)
                if (command.kind == session_host::CommandKind::Rename) {
                    std::fprintf(stderr,
                                 "skyrelay-session: %s:%d: rename is not carried by "
                                 "--directplay\n",
                                 scenarioPath, command.line);
                    return 2;
                }
        options.script = std::move(script);
    }

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = OnStatusSignal;
    sigaction(SIGUSR1, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (directPlay)
        return HostDirectPlay(std::move(options), portGiven, client32, enumerationPort);

    std::string runtimeDir = posix::RuntimeDir();
    if (!posix::MakeDirs(runtimeDir)) {
        std::fprintf(stderr, "skyrelay-session: cannot create %s\n", runtimeDir.c_str());
        return 1;
    }
    options.socketPath = posix::IpxSocketPath();

    session_host::Host host(std::move(options));
    std::string error;
    if (!host.Listen(error)) {
        std::fprintf(stderr, "skyrelay-session: %s\n", error.c_str());
        return 1;
    }
    return host.Run(stopRequested, statusRequested);
}
