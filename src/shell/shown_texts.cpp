#include "shell/shown_texts.h"

#include "session/scheduler.h"
#include "session/session_join.h"
#include "shell/relay_app.h"
#include "shell/settings.h"
#include "state/relay_state.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"

namespace {

#define SKYRELAY_SHOWN(kind, constant)                                                             \
    { ShownTextKind::kind, #constant, constant }

constexpr ShownText Texts[] = {
    SKYRELAY_SHOWN(StatusLine, FsDetectedText),
    SKYRELAY_SHOWN(StatusLine, ConnectedText),
    SKYRELAY_SHOWN(MessageBox, ComStartErrorText),
    SKYRELAY_SHOWN(MessageBox, SimFolderNotFoundMessage),
    SKYRELAY_SHOWN(MessageBox, FsPathTooLongMessage),
    SKYRELAY_SHOWN(MessageBox, SettingsNotSavedFormat),
    SKYRELAY_SHOWN(MessageBox, NoMappingText),
    SKYRELAY_SHOWN(MessageBox, NoViewText),
    SKYRELAY_SHOWN(MessageBox, DirectPlayMissingText),
    SKYRELAY_SHOWN(MessageBox, NoSessionText),
    SKYRELAY_SHOWN(MessageBox, ChooseConnectionErrorText),
    SKYRELAY_SHOWN(MessageBox, JoinErrorText),
    SKYRELAY_SHOWN(MessageBox, CreatePlayerErrorText),
    SKYRELAY_SHOWN(MessageBox, RefusedText),
    SKYRELAY_SHOWN(Line, RelayAlreadyRunningFormat),
};

#undef SKYRELAY_SHOWN

} // namespace

std::span<const ShownText> ShownTexts() {
    return Texts;
}
