#include "shell/relay_dialog.h"

#include "session/scheduler.h"
#include "shell/settings.h"
#include "state/relay_state.h"
#include "traffic/relay_stats.h"
#include "traffic/shared_block.h"

plat::Menu mainMenu = nullptr;

namespace {

// A check mark from an option: 0 clears it, 1 sets it, anything else leaves it as it is.
void CheckFromOption(unsigned command, std::int32_t value) {
    if (value == 0)
        plat::CheckMenuCommand(mainMenu, command, plat::MenuUnchecked);
    else if (value == 1)
        plat::CheckMenuCommand(mainMenu, command, plat::MenuChecked);
}

// Flips an option: 0 becomes 1 and any other value 0; the check mark follows, the settings file
// is written at once and the counter block shows the new value, also while no timer runs.
void ToggleOption(unsigned command, std::int32_t& value, const char* key) {
    if (value == 0) {
        plat::CheckMenuCommand(mainMenu, command, plat::MenuChecked);
        value = 1;
    } else {
        plat::CheckMenuCommand(mainMenu, command, plat::MenuUnchecked);
        value = 0;
    }
    SaveOption(key, value);
    UpdateConnectItems();
    PublishRelayStats();
}

} // namespace

void UpdateConnectItems() {
    std::uint32_t flags = plat::MenuEnabled;
    if (relayState.manualConnectOnly == 0 && relayState.usingSquawkBox != 0)
        flags = plat::MenuGrayed;
    plat::EnableMenuCommand(mainMenu, TcpIpCommand, flags);
    plat::EnableMenuCommand(mainMenu, IpxSpxCommand, flags);
}

int CAboutDlg::DoModal() {
    return plat::RunModalDialog(AboutDialogTemplate, 0, this);
}

int CAboutDlg::OnInitDialog(plat::Window self) {
    window_ = self;
    return 1;
}

void CAboutDlg::OnCommand(unsigned commandId) {
    if (commandId == plat::CommandOk || commandId == plat::CommandCancel)
        plat::EndModalDialog(window_, static_cast<int>(commandId));
}

CRelayDlg::CRelayDlg() : appIcon_(plat::LoadAppIcon(AppIconId)) {}

int CRelayDlg::DoModal() {
    return plat::RunModalDialog(nullptr, MainDialogTemplate, this);
}

int CRelayDlg::OnInitDialog(plat::Window self) {
    window_ = self;
    mainDialog = self;

    FindSimFolder();
    ReadPlayerName();
    OpenSharedTrafficBlock();
    OpenRelayStats();
    relayState.detectTimerId = plat::StartTimer(self, DetectTimer, DetectPeriodMs, OnDetectTimer);
    NoteTimer(DetectTimer, relayState.detectTimerId != 0);
    mainMenu = plat::GetWindowMenu(self);

    if (plat::Menu systemMenu = plat::GetWindowSystemMenu(self)) {
        std::string about = plat::LoadResourceString(AboutMenuStringId);
        if (!about.empty()) {
            plat::AppendMenuCommand(systemMenu, plat::MenuSeparator, 0, nullptr);
            plat::AppendMenuCommand(systemMenu, plat::MenuString, SysCommandAbout, about.c_str());
        }
    }

    plat::SetWindowIcon(self, plat::IconBig, appIcon_);
    plat::SetWindowIcon(self, plat::IconSmall, appIcon_);

    LoadOptions();
    CheckFromOption(UsingSquawkBoxCommand, relayState.usingSquawkBox);
    CheckFromOption(ManualConnectOnlyCommand, relayState.manualConnectOnly);
    UpdateConnectItems();
    ZeroWorkingBlock();
    PublishRelayStats();
    return 1;
}

void CRelayDlg::OnCommand(unsigned commandId) {
    switch (commandId) {
    case AppAboutCommand:
        OnAbout();
        break;
    case AppExitCommand:
        OnExit();
        break;
    case TcpIpCommand:
    case IpxSpxCommand:
        ConnectFromMenu(commandId);
        break;
    case UsingSquawkBoxCommand:
        OnUsingSquawkBox();
        break;
    case ManualConnectOnlyCommand:
        OnManualConnectOnly();
        break;
    case FsPathCommand:
        OnFsPath();
        break;
    case plat::CommandOk:
        OnOK();
        break;
    case plat::CommandCancel:
        OnCancel();
        break;
    default:
        break;
    }
}

bool CRelayDlg::OnSysCommand(unsigned commandId) {
    if ((commandId & 0xFFF0) != SysCommandAbout)
        return false;
    CAboutDlg about;
    about.DoModal();
    return true;
}

bool CRelayDlg::OnPaint() {
    if (!plat::IsWindowMinimized(window_))
        return false;
    plat::Extent icon = plat::SystemIconSize();
    plat::Extent client = plat::ClientAreaSize(window_);
    plat::PaintIconAt(window_, appIcon_, (client.width - icon.width + 1) / 2,
                      (client.height - icon.height + 1) / 2);
    return true;
}

plat::Icon CRelayDlg::OnQueryDragIcon() {
    return appIcon_;
}

void CRelayDlg::OnAbout() {
    CAboutDlg about;
    about.DoModal();
}

void CRelayDlg::OnExit() {
    OnOK();
}

void CRelayDlg::OnUsingSquawkBox() {
    ToggleOption(UsingSquawkBoxCommand, relayState.usingSquawkBox, UsingSbKey);
}

void CRelayDlg::OnManualConnectOnly() {
    ToggleOption(ManualConnectOnlyCommand, relayState.manualConnectOnly, ManualConnectKey);
}

void CRelayDlg::OnOK() {
    plat::EndModalDialog(window_, plat::CommandOk);
}

void CRelayDlg::OnCancel() {
    plat::EndModalDialog(window_, plat::CommandCancel);
}
