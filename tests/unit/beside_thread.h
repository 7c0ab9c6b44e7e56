// Runs one piece of work on a second thread while the calling thread runs another, then waits for
// the second. The Windows threads model of the cross compilers has no std::thread, so there the
// second thread is the system's own.
#pragma once

#include <functional>

// Starts `beside` on a new thread, runs `here` on this one, and returns once both have ended.
// False, with nothing run, when no thread could be started.
bool RunBeside(const std::function<void()>& beside, const std::function<void()>& here);
