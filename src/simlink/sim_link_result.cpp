// The names of the link's result codes, in a file of their own so that a program that only shows
// them (a reader of the relay's counters) links none of the link itself.
#include "simlink/sim_link.h"

#include <iterator>

const char* SimLinkResultName(SimLinkResult code) {
    static constexpr const char* names[] = {"Ok",
                                            "AlreadyOpen",
                                            "NoModuleWindow",
                                            "NoRequestMessage",
                                            "NoAtom",
                                            "NoMapping",
                                            "NoView",
                                            "BadHandshake",
                                            "WrongSimulator",
                                            "NotOpen",
                                            "NothingQueued",
                                            "NoAnswer",
                                            "SendError",
                                            "BadReply",
                                            "BadHandshakeOldWindow",
                                            "AreaFull"};
    auto index = static_cast<std::int32_t>(code);
    if (index < 0 || index >= static_cast<std::int32_t>(std::size(names)))
        return "unknown";
    return names[index];
}
