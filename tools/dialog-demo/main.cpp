// dialog-demo: runs the main window's dialog on the Linux backend with a handler that only reports
// the commands it gets, to try the terminal dialog and its headless mode by hand or from a script.
//
//   dialog-demo [--headless] [--log FILE] [--tick-ms N]
//
// Each command is written as "command: <id>" (system commands "syscommand: <id>") to the log file,
// or to stdout when headless and no log is given; at the end "result: <code>".
#include "platform/platform.h"
#include "platform/posix/posix_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::FILE* logFile = nullptr;
plat::Window mainWindow = nullptr;
plat::Menu mainMenu = nullptr;
bool usingSquawkBox = true;
bool manualConnectOnly = false;
unsigned tickPeriodMs = 0;
int ticks = 0;

void Log(const char* what, unsigned value) {
    if (logFile != nullptr) {
        std::fprintf(logFile, "%s: %u\n", what, value);
        std::fflush(logFile);
    }
}

void ShowConnectItems() {
    std::uint32_t state =
        !manualConnectOnly && usingSquawkBox ? plat::MenuGrayed : plat::MenuEnabled;
    plat::EnableMenuCommand(mainMenu, 154, state);
    plat::EnableMenuCommand(mainMenu, 155, state);
}

void OnTick() {
    ++ticks;
    plat::SetControlText(mainWindow, 104, ("Ticks: " + std::to_string(ticks)).c_str());
}

class AboutDemo final : public plat::DialogHandler {
  public:
    int OnInitDialog(plat::Window self) override {
        self_ = self;
        return 1;
    }
    void OnCommand(unsigned commandId) override {
        if (commandId == plat::CommandOk || commandId == plat::CommandCancel)
            plat::EndModalDialog(self_, static_cast<int>(commandId));
    }
    bool OnSysCommand(unsigned) override { return false; }

  private:
    plat::Window self_ = nullptr;
};

class MainDemo final : public plat::DialogHandler {
  public:
    int OnInitDialog(plat::Window self) override {
        mainWindow = self;
        mainMenu = plat::GetWindowMenu(self);
        if (plat::Menu system = plat::GetWindowSystemMenu(self)) {
            std::string about = plat::LoadResourceString(101);
            if (!about.empty()) {
                plat::AppendMenuCommand(system, plat::MenuSeparator, 0, nullptr);
                plat::AppendMenuCommand(system, plat::MenuString, 0x0010, about.c_str());
            }
        }
        plat::Icon icon = plat::LoadAppIcon(103);
        plat::SetWindowIcon(self, plat::IconBig, icon);
        plat::SetWindowIcon(self, plat::IconSmall, icon);
        plat::CheckMenuCommand(mainMenu, 156, plat::MenuChecked);
        ShowConnectItems();
        plat::SetControlText(self, 104, "Demo running");
        if (tickPeriodMs != 0)
            plat::StartTimer(self, 1, tickPeriodMs, &OnTick);
        return 1;
    }

    void OnCommand(unsigned commandId) override {
        Log("command", commandId);
        switch (commandId) {
        case plat::CommandOk:
        case plat::CommandCancel:
        case 0xE141:
            plat::EndModalDialog(mainWindow, static_cast<int>(commandId == 0xE141 ? 1 : commandId));
            break;
        case 135: {
            std::string folder;
            if (plat::BrowseForFolder("FS Directory", 0x0250, &folder))
                plat::SetControlText(mainWindow, 1007, folder.c_str());
            break;
        }
        case 154:
        case 155:
            plat::ShowMessageBox(mainWindow,
                                 ("Connect command " + std::to_string(commandId)).c_str(),
                                 "Skyrelay", plat::BoxIconError);
            break;
        case 156:
            usingSquawkBox = !usingSquawkBox;
            plat::CheckMenuCommand(mainMenu, 156, usingSquawkBox ? plat::MenuChecked : 0);
            ShowConnectItems();
            break;
        case 157:
            manualConnectOnly = !manualConnectOnly;
            plat::CheckMenuCommand(mainMenu, 157, manualConnectOnly ? plat::MenuChecked : 0);
            ShowConnectItems();
            break;
        default:
            break;
        }
    }

    bool OnSysCommand(unsigned commandId) override {
        Log("syscommand", commandId);
        if ((commandId & 0xFFF0) != 0x0010)
            return false;
        AboutDemo about;
        plat::RunModalDialog("ABOUTBOX", 0, &about);
        return true;
    }
};

} // namespace

int main(int argc, char** argv) {
    const char* logPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            posix::SetHeadless(true);
        } else if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
            logPath = argv[++i];
        } else if (std::strcmp(argv[i], "--tick-ms") == 0 && i + 1 < argc) {
            tickPeriodMs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: %s [--headless] [--log FILE] [--tick-ms N]\n", argv[0]);
            return 2;
        }
    }
    if (logPath != nullptr) {
        logFile = std::fopen(logPath, "a");
        if (logFile == nullptr) {
            std::perror(logPath);
            return 2;
        }
    } else if (posix::Headless()) {
        logFile = stdout;
    }
    MainDemo dialog;
    int result = plat::RunModalDialog(nullptr, 102, &dialog);
    Log("result", static_cast<unsigned>(result));
    return result < 0 ? 1 : 0;
}
