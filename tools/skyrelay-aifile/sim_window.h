// Whether a simulator window is there now, as the relay would find one: what tells a simulator
// that was closed from one that was started again.
#pragma once

namespace aifile {

// True when a window of the simulator IPC module's class ("UIPCMAIN", or the older "FS98MAIN")
// exists now.
bool SimulatorWindowThere();

} // namespace aifile
