// The framework's message box without a dialog on screen: the text as one line on stderr,
// acknowledged at once, as the headless dialog does. The terminal dialog, where it is linked,
// supplies the real box and replaces this one.
#include "platform/dialog.h"

#include <cstdio>

namespace plat {

[[gnu::weak]] int ShowAppMessageBox(const char* text, std::uint32_t) {
    std::fprintf(stderr, "%s\n", text != nullptr ? text : "");
    std::fflush(stderr);
    return BoxResultOk;
}

} // namespace plat
