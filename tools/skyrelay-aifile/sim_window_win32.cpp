// On Windows the module window is a top-level window of its class.
#include "skyrelay-aifile/sim_window.h"

#include <windows.h>

namespace aifile {

bool SimulatorWindowThere() {
    return FindWindowA("UIPCMAIN", nullptr) != nullptr ||
           FindWindowA("FS98MAIN", nullptr) != nullptr;
}

} // namespace aifile
