// The one seam between the core and the operating system. The core includes this (or one of the
// capability headers) and the C++ standard library only; exactly one backend is linked into each
// program: win32 (the real thing), posix (Linux stand-ins) or fake (tests).
#pragma once

#include "platform/app.h"
#include "platform/dialog.h"
#include "platform/directplay.h"
#include "platform/messaging.h"
#include "platform/settings_store.h"
#include "platform/shared_memory.h"
#include "platform/types.h"
