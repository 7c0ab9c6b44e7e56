// Helpers shared by the Linux backend's files (not part of the seam).
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <string>

namespace posix {

// Where bare settings file names live: $SKYRELAY_CONFIG_DIR, else $XDG_CONFIG_HOME/skyrelay, else
// ~/.config/skyrelay. Not created here.
std::string ConfigDir();

// Where the stand-ins' unix sockets live: $SKYRELAY_RUNTIME_DIR, else $XDG_RUNTIME_DIR/skyrelay,
// else /tmp/skyrelay-<uid>. Not created here.
std::string RuntimeDir();

// Creates a directory and its parents (mode 0700 for the ones it makes); true if it exists after,
// else false with the reason in errno.
bool MakeDirs(const std::string& path);

// The POSIX shared memory name for a Windows mapping name: "/" + $SKYRELAY_SHM_PREFIX + name.
std::string SharedMemoryName(const std::string& name);

// Sets the calling thread's last-error value, as the Windows call being stood in for would.
void SetLastError(std::uint32_t error);
inline constexpr std::uint32_t ErrorInvalidHandle = 6; // ERROR_INVALID_HANDLE

// The file descriptor behind a session event (an eventfd, readable while signalled), -1 for none.
int EventDescriptor(plat::Event event);

} // namespace posix
