// The main dialog (template 102) and the About box. The dialog collects input and hands each
// command to one handler; the subsystems do the work.
#pragma once

#include "platform/platform.h"

// Resource and command identifiers.
inline constexpr int MainDialogTemplate = 102;
inline constexpr char AboutDialogTemplate[] = "ABOUTBOX";
inline constexpr unsigned AboutMenuStringId = 101;
inline constexpr int AppIconId = 103;
inline constexpr unsigned SysCommandAbout = 0x0010;
inline constexpr unsigned AppAboutCommand = 0xE140; // ID_APP_ABOUT
inline constexpr unsigned AppExitCommand = 0xE141;  // ID_APP_EXIT
inline constexpr unsigned FsPathCommand = 135;
inline constexpr unsigned UsingSquawkBoxCommand = 156;
inline constexpr unsigned ManualConnectOnlyCommand = 157;

// The main dialog's menu, taken when the dialog initialises.
extern plat::Menu mainMenu;

// Items 154 and 155: grayed exactly when the relay connects by itself ("Using SquawkBox" on,
// "Manual connect only" off), enabled otherwise.
void UpdateConnectItems();

class CAboutDlg final : public plat::DialogHandler {
  public:
    int DoModal();

    int OnInitDialog(plat::Window self) override;
    void OnCommand(unsigned commandId) override;
    bool OnSysCommand(unsigned) override { return false; }

  private:
    plat::Window window_ = nullptr;
};

class CRelayDlg final : public plat::DialogHandler {
  public:
    CRelayDlg();

    int DoModal();

    int OnInitDialog(plat::Window self) override;
    void OnCommand(unsigned commandId) override;
    bool OnSysCommand(unsigned commandId) override;
    bool OnPaint() override;
    plat::Icon OnQueryDragIcon() override;

    void OnAbout();
    void OnExit();
    void OnUsingSquawkBox();
    void OnManualConnectOnly();
    void OnOK();
    void OnCancel();

  private:
    plat::Icon appIcon_;            // icon 103: the window's icons and the minimized picture
    plat::Window window_ = nullptr; // the dialog's window while it runs
};
