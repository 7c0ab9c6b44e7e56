// COM on Linux: there is none, so starting and ending it only keep the program's order of calls.
// SKYRELAY_FAIL_COM=1 makes the start fail, so the program's start-up failure path can be run.
#include "platform/app.h"

#include <cstdlib>
#include <cstring>

namespace plat {

void OleInitialize() {}

HRESULT ComInitialize() {
    const char* fail = std::getenv("SKYRELAY_FAIL_COM");
    if (fail != nullptr && *fail != '\0' && std::strcmp(fail, "0") != 0)
        return hresult::Fail;
    return hresult::Ok;
}

void ComUninitialize() {}

} // namespace plat
