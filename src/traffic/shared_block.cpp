#include "traffic/shared_block.h"

#include "platform/dialog.h"
#include "platform/shared_memory.h"

#include <cstring>

SharedTrafficBlock workingBlock{};
plat::Mapping sharedMapping = nullptr;
void* sharedView = nullptr;

void OpenSharedTrafficBlock() {
    sharedMapping = plat::OpenNamedMapping(SharedBlockName);
    if (sharedMapping == nullptr) {
        bool alreadyExisted = false;
        sharedMapping = plat::CreateNamedMapping(
            SharedBlockName, static_cast<std::uint32_t>(SharedBlockSize), &alreadyExisted);
        if (sharedMapping == nullptr)
            plat::ShowAppMessageBox(NoMappingText, plat::BoxIconExclamation);
    }
    if (sharedMapping == nullptr)
        return;

    std::size_t viewSize = 0;
    void* view = plat::MapWholeView(sharedMapping, &viewSize);
    // A mapping another program made smaller than the block is refused like one that cannot be
    // mapped: every copy writes the whole block, and its bytes past the end are not ours.
    if (view != nullptr && viewSize < SharedBlockSize) {
        plat::UnmapView(view);
        view = nullptr;
    }
    sharedView = view;
    if (sharedView == nullptr)
        plat::ShowAppMessageBox(NoViewText, plat::BoxIconExclamation);
}

void EmptyPicture() {
    SharedTrafficRecord& slot = workingBlock.records[0];
    slot = SharedTrafficRecord{};
    slot.latitude = 89.0f;
    slot.longitude = 1.0f;
    slot.altitude = 1.0f;
    slot.headingDegrees = 1.0f;
    slot.groundSpeed = 1.0f;
    slot.verticalSpeed = 1.0f;
    workingBlock.state = SharedStatePublished;
    workingBlock.recordCount = 0;
}

void CopyToSharedView() {
    if (sharedView != nullptr)
        std::memcpy(sharedView, &workingBlock, SharedBlockSize);
}

int ReleaseSharedTrafficBlock() {
    workingBlock.recordCount = 0;
    workingBlock.state = SharedStateNoPicture;
    CopyToSharedView();
    if (sharedView != nullptr)
        plat::UnmapView(sharedView);
    sharedView = nullptr;
    int closed = plat::CloseMapping(sharedMapping);
    sharedMapping = nullptr;
    return closed;
}

void ZeroWorkingBlock() {
    std::memset(&workingBlock, 0, sizeof workingBlock);
}

void ResetSharedTrafficBlock() {
    ZeroWorkingBlock();
    sharedMapping = nullptr;
    sharedView = nullptr;
}
