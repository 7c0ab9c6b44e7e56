// The Linux dialog's loop in this process: window timers, nested message-box loops, the wait for
// the session event, headless command lines, terminal keys and the exit signals.
#include "platform/platform.h"
#include "platform/posix/posix_backend.h"
#include "platform/posix/posix_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A dialog handler that records what it is told and lets each test decide what to do.
struct Recorder final : plat::DialogHandler {
    plat::Window self = nullptr;
    std::vector<unsigned> commands;
    std::vector<unsigned> sysCommands;
    std::function<void(plat::Window)> init;
    std::function<void(unsigned)> command;
    std::function<bool(unsigned)> sysCommand;

    int OnInitDialog(plat::Window window) override {
        self = window;
        if (init)
            init(window);
        return 1;
    }
    void OnCommand(unsigned commandId) override {
        commands.push_back(commandId);
        if (command)
            command(commandId);
    }
    bool OnSysCommand(unsigned commandId) override {
        sysCommands.push_back(commandId);
        return sysCommand ? sysCommand(commandId) : false;
    }
};

// What the timer callbacks (plain functions) work on.
struct TimerWorld {
    Recorder* dialog = nullptr;
    std::string firings;
    int counts[8] = {};
    int inputFd = -1;
    bool boxOpen = false;
    int ticksInBox = 0;
    int boxResult = 0;
    bool raised = false;
};
TimerWorld world;

class DialogLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        posix::ResetDialog();
        world = TimerWorld{};
        ASSERT_EQ(pipe(input_), 0);
        world.inputFd = input_[1];
        report_ = std::tmpfile();
        screen_ = std::tmpfile();
        ASSERT_NE(report_, nullptr);
        ASSERT_NE(screen_, nullptr);
        posix::SetDialogStreams(input_[0], fileno(screen_), fileno(report_));
        // A loop that never ends fails the test instead of hanging it.
        alarm(30);
    }

    void TearDown() override {
        alarm(0);
        posix::ResetDialog();
        close(input_[0]);
        if (input_[1] >= 0)
            close(input_[1]);
        std::fclose(report_);
        std::fclose(screen_);
    }

    void Type(const std::string& text) {
        ASSERT_EQ(write(input_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void EndInput() {
        close(input_[1]);
        input_[1] = -1;
        world.inputFd = -1;
    }

    static std::string Contents(std::FILE* file) {
        std::string text;
        std::rewind(file);
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, count);
        return text;
    }
    std::string Report() { return Contents(report_); }
    std::string Screen() { return Contents(screen_); }

    int Run(Recorder& dialog) {
        world.dialog = &dialog;
        return plat::RunModalDialog(nullptr, 102, &dialog);
    }

    int input_[2] = {-1, -1};
    std::FILE* report_ = nullptr;
    std::FILE* screen_ = nullptr;
};

void End(int result) {
    plat::EndModalDialog(world.dialog->self, result);
}

// ---- timers -------------------------------------------------------------------------------------

void FastTick() {
    world.firings += 'A';
}
void SlowTick() {
    world.firings += 'B';
    if (++world.counts[1] == 4)
        End(3);
}

TEST_F(DialogLoop, TimersFireEarliestDueFirstAndKeepTheirPeriods) {
    posix::SetHeadless(true);
    Recorder dialog;
    dialog.init = [](plat::Window self) {
        EXPECT_EQ(plat::StartTimer(self, 2, 45, &SlowTick), 2u);
        EXPECT_EQ(plat::StartTimer(self, 1, 15, &FastTick), 1u);
    };
    EXPECT_EQ(Run(dialog), 3);
    // The fast timer is due first and is due again before each later tick of the slow one,
    // however late the loop gets to them.
    ASSERT_FALSE(world.firings.empty());
    EXPECT_EQ(world.firings.front(), 'A') << world.firings;
    EXPECT_EQ(world.firings.find("BB"), std::string::npos) << world.firings;
    EXPECT_EQ(world.firings.back(), 'B');
    EXPECT_GE(std::count(world.firings.begin(), world.firings.end(), 'A'), 4);
}

void StopsItself() {
    ++world.counts[1];
    plat::StopTimer(world.dialog->self, 1);
}
void Replacement() {
    ++world.counts[3];
}
void ReplacesItself() {
    ++world.counts[2];
    plat::StartTimer(world.dialog->self, 2, 10, &Replacement);
}
void StopsTheNext() {
    ++world.counts[4];
    plat::StopTimer(world.dialog->self, 5);
}
void StoppedBeforeItsTick() {
    ++world.counts[5];
}
void Finish() {
    if (++world.counts[6] == 3)
        End(4);
}

TEST_F(DialogLoop, TimersStoppedOrReplacedInCallbacksDoNotFireAgain) {
    posix::SetHeadless(true);
    Recorder dialog;
    dialog.init = [](plat::Window self) {
        plat::StartTimer(self, 1, 10, &StopsItself);
        plat::StartTimer(self, 2, 10, &ReplacesItself);
        plat::StartTimer(self, 4, 10, &StopsTheNext);
        plat::StartTimer(self, 5, 10, &StoppedBeforeItsTick);
        plat::StartTimer(self, 6, 80, &Finish);
        // Timers 4 and 5 are both overdue when the loop starts: 4 fires first and stops 5.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    };
    EXPECT_EQ(Run(dialog), 4);
    EXPECT_EQ(world.counts[1], 1);
    EXPECT_EQ(world.counts[2], 1);
    EXPECT_GE(world.counts[3], 2);
    EXPECT_GT(world.counts[4], 0);
    EXPECT_EQ(world.counts[5], 0);
    // The window is gone, and its timers with it: none of them ticks in the next dialog.
    EXPECT_EQ(plat::StartTimer(dialog.self, 7, 10, &Finish), 0u);
    int replacementTicks = world.counts[3];
    world.counts[6] = 0;
    Recorder next;
    next.init = [](plat::Window self) { plat::StartTimer(self, 6, 30, &Finish); };
    EXPECT_EQ(Run(next), 4);
    EXPECT_EQ(world.counts[3], replacementTicks);
}

// ---- nested loops ---------------------------------------------------------------------------

void CountsTicksInBox() {
    if (!world.boxOpen)
        return;
    if (++world.ticksInBox == 3 && world.inputFd >= 0) [[maybe_unused]]
        auto n = write(world.inputFd, "\r", 1);
}
void OpensBox() {
    plat::StopTimer(world.dialog->self, 2);
    world.boxOpen = true;
    world.boxResult =
        plat::ShowMessageBox(nullptr, "Couldn't find it. ", "Skyrelay", plat::BoxIconError);
    world.boxOpen = false;
    End(7);
}

TEST_F(DialogLoop, TimersKeepRunningWhileATerminalBoxIsOpen) {
    posix::SetHeadless(false);
    Recorder dialog;
    dialog.init = [](plat::Window self) {
        plat::StartTimer(self, 1, 10, &CountsTicksInBox);
        plat::StartTimer(self, 2, 30, &OpensBox);
    };
    EXPECT_EQ(Run(dialog), 7);
    EXPECT_EQ(world.ticksInBox, 3);
    EXPECT_EQ(world.boxResult, plat::BoxResultOk);
    std::string screen = Screen();
    EXPECT_NE(screen.find("+-[ Skyrelay ]"), std::string::npos);
    EXPECT_NE(screen.find("(X) Couldn't find it. "), std::string::npos);
    EXPECT_NE(screen.find("[ OK ]"), std::string::npos);
    EXPECT_EQ(Report(), "");
}

TEST_F(DialogLoop, TerminalKeysPickEnabledItemsAndTheFolderPrompt) {
    posix::SetHeadless(false);
    Recorder dialog;
    std::vector<std::string> folders;
    dialog.init = [](plat::Window self) {
        plat::EnableMenuCommand(plat::GetWindowMenu(self), 154, plat::MenuGrayed);
        plat::CheckMenuCommand(plat::GetWindowMenu(self), 156, plat::MenuChecked);
        plat::Menu system = plat::GetWindowSystemMenu(self);
        plat::AppendMenuCommand(system, plat::MenuSeparator, 0, nullptr);
        plat::AppendMenuCommand(system, plat::MenuString, 0x0010, "&About Skyrelay");
        plat::SetControlText(self, 1007, "C:\\FS\x1b[2J");
    };
    dialog.command = [&](unsigned id) {
        if (id == 135) {
            std::string folder;
            folders.push_back(
                plat::BrowseForFolder("FS Directory", 0x0250, &folder) ? folder : "(cancelled)");
        }
        if (id == plat::CommandCancel)
            End(2);
    };
    dialog.sysCommand = [](unsigned) { return true; };
    // t is grayed; an arrow key is nothing; p opens the prompt (edited, then Enter, Escape, an
    // empty Enter); a picks the system menu's About; Escape ends.
    Type("tT\x1b[Ai"
         "p/fs\x7fx 2002\r"
         "p/abc\x1b"
         "p\r"
         "A\x1b");
    EXPECT_EQ(Run(dialog), 2);
    EXPECT_EQ(dialog.commands, (std::vector<unsigned>{155, 135, 135, 135, plat::CommandCancel}));
    EXPECT_EQ(folders, (std::vector<std::string>{"/fx 2002", "(cancelled)", "(cancelled)"}));
    EXPECT_EQ(dialog.sysCommands, (std::vector<unsigned>{0x0010}));
    std::string screen = Screen();
    EXPECT_NE(screen.find("FS PATH: C:\\FS?[2J"), std::string::npos);
    EXPECT_NE(screen.find("[t] TCP/IP"), std::string::npos);
    EXPECT_NE(screen.find("grayed"), std::string::npos);
    EXPECT_NE(screen.find("checked"), std::string::npos);
    EXPECT_NE(screen.find("[a] About Skyrelay"), std::string::npos);
    EXPECT_NE(screen.find("\"TCP/IP\" is grayed"), std::string::npos);
    EXPECT_NE(screen.find("+-[ Browse For Folder ]"), std::string::npos);
}

// ---- the wait -------------------------------------------------------------------------------

bool EventReadable(plat::Event event) {
    pollfd fd{posix::EventDescriptor(event), POLLIN, 0};
    return poll(&fd, 1, 0) == 1;
}

void Idle() {}

TEST_F(DialogLoop, WaitReturnsOnTheEventOnInputAndByTheNextTimer) {
    posix::SetHeadless(true);
    plat::Event event = plat::CreateSessionEvent();
    ASSERT_NE(event, nullptr);
    // A wait that misses its wake-up would block; the watchdog then signals and says so.
    std::atomic<bool> done{false};
    std::atomic<bool> watchdogFired{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 500 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done) {
            watchdogFired = true;
            plat::SignalSessionEvent(event);
        }
    });

    Recorder dialog;
    dialog.init = [&](plat::Window self) {
        plat::SignalSessionEvent(event);
        plat::WaitForEventOrInput(event);
        EXPECT_FALSE(EventReadable(event)) << "the wait resets the event";

        plat::StartTimer(self, 1, 20, &Idle);
        plat::WaitForEventOrInput(event); // nothing but the timer's deadline ends this one
        EXPECT_FALSE(watchdogFired);
        plat::StopTimer(self, 1);

        Type("Exit\n");
        plat::WaitForEventOrInput(event); // input ends it, and is left for the loop
        EXPECT_FALSE(watchdogFired);
    };
    dialog.command = [](unsigned id) {
        if (id == 0xE141)
            End(1);
    };
    EXPECT_EQ(Run(dialog), 1);
    EXPECT_EQ(dialog.commands, (std::vector<unsigned>{0xE141}));
    done = true;
    watchdog.join();
    EXPECT_FALSE(watchdogFired);
    EXPECT_EQ(plat::CloseSessionEvent(event), 1);
}

// ---- headless -------------------------------------------------------------------------------

TEST_F(DialogLoop, HeadlessLinesAreMenuCommandsByItemText) {
    posix::SetHeadless(true);
    posix::SetProgramName("skyrelay");
    Recorder dialog;
    std::vector<std::string> folders;
    dialog.init = [](plat::Window self) {
        plat::EnableMenuCommand(plat::GetWindowMenu(self), 154, plat::MenuGrayed);
        plat::Menu system = plat::GetWindowSystemMenu(self);
        plat::AppendMenuCommand(system, plat::MenuSeparator, 0, nullptr);
        plat::AppendMenuCommand(system, plat::MenuString, 0x0010, "&About Skyrelay");
        plat::SetControlText(self, 104, "FS Detected");
        plat::SetControlText(self, 1007, "C:\\FS2002");
        plat::SetControlText(self, 1007, "");
    };
    dialog.command = [&](unsigned id) {
        if (id == 135) {
            std::string folder;
            folders.push_back(
                plat::BrowseForFolder("FS Directory", 0x0250, &folder) ? folder : "(cancelled)");
        } else if (id == 0xE141) {
            End(1);
        } else if (id == 155) {
            plat::ShowMessageBox(nullptr, "two\nlines", "Skyrelay", plat::BoxIconError);
            plat::ShowAppMessageBox("Can't find FS2002 PAth", plat::BoxIconExclamation);
        }
    };
    dialog.sysCommand = [](unsigned id) {
        Recorder about;
        about.command = [&about](unsigned) { plat::EndModalDialog(about.self, 5); };
        EXPECT_EQ(plat::RunModalDialog("ABOUTBOX", 0, &about), 5);
        return id == 0x0010;
    };
    Type("TCP/IP\nIPX/SPX\r\n  Using SquawkBox \nManual connect only\n\nBogus line\n"
         "FS Path /opt/FS 2002\nFS Path\nAbout\nExit\nIPX/SPX\n");
    EXPECT_EQ(Run(dialog), 1);
    EXPECT_EQ(dialog.commands, (std::vector<unsigned>{155, 156, 157, 135, 135, 0xE141}));
    EXPECT_EQ(folders, (std::vector<std::string>{"/opt/FS 2002", "(cancelled)"}));
    EXPECT_EQ(dialog.sysCommands, (std::vector<unsigned>{0x0010}));
    EXPECT_EQ(Report(), "status: FS Detected\n"
                        "path: C:\\FS2002\n"
                        "path: \n"
                        "grayed: TCP/IP\n"
                        "box: two\\nlines\n"
                        "box: Can't find FS2002 PAth\n"
                        "unknown command: Bogus line\n"
                        "dialog: About Skyrelay\n");
    EXPECT_EQ(Screen(), "") << "headless draws nothing";
}

void CountsAfterTheCommand() {
    if (!world.dialog->commands.empty() && ++world.counts[1] == 5)
        End(9);
}

TEST_F(DialogLoop, HeadlessEndOfInputIsNoCommand) {
    posix::SetHeadless(true);
    Recorder dialog;
    dialog.init = [](plat::Window self) { plat::StartTimer(self, 1, 10, &CountsAfterTheCommand); };
    Type("Using SquawkBox");
    EndInput();
    EXPECT_EQ(Run(dialog), 9);
    EXPECT_EQ(dialog.commands, (std::vector<unsigned>{156}));
}

TEST_F(DialogLoop, UnknownTemplatesAreNotRun) {
    Recorder dialog;
    EXPECT_EQ(plat::RunModalDialog("NOSUCH", 0, &dialog), -1);
    EXPECT_EQ(plat::RunModalDialog(nullptr, 103, &dialog), -1);
    EXPECT_EQ(plat::RunModalDialog(nullptr, 102, nullptr), -1);
    EXPECT_EQ(dialog.self, nullptr);
}

// ---- signals ----------------------------------------------------------------------------------

void RaisesTerm() {
    if (!world.raised) {
        world.raised = true;
        raise(SIGTERM);
    }
}

TEST_F(DialogLoop, SigtermEndsTheDialogThroughExit) {
    posix::SetHeadless(true);
    Recorder dialog;
    dialog.init = [](plat::Window self) { plat::StartTimer(self, 1, 10, &RaisesTerm); };
    dialog.command = [](unsigned id) {
        if (id == 0xE141)
            End(1);
    };
    EXPECT_EQ(Run(dialog), 1);
    EXPECT_EQ(dialog.commands, (std::vector<unsigned>{0xE141}));
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "the handler is removed with the dialog";
}

void RaisesTermInBox() {
    if (world.boxOpen)
        RaisesTerm();
}
void OpensBoxOnce() {
    plat::StopTimer(world.dialog->self, 2);
    world.boxOpen = true;
    world.boxResult = plat::ShowMessageBox(world.dialog->self, "Open", "Skyrelay", 0);
    world.boxOpen = false;
}

TEST_F(DialogLoop, SigtermClosesAnOpenBoxThenExits) {
    posix::SetHeadless(false);
    Recorder dialog;
    dialog.init = [](plat::Window self) {
        plat::StartTimer(self, 1, 10, &RaisesTermInBox);
        plat::StartTimer(self, 2, 20, &OpensBoxOnce);
    };
    dialog.command = [](unsigned id) {
        if (id == 0xE141)
            End(1);
    };
    EXPECT_EQ(Run(dialog), 1);
    EXPECT_TRUE(world.raised);
    EXPECT_EQ(world.boxResult, plat::BoxResultOk);
    EXPECT_EQ(dialog.commands, (std::vector<unsigned>{0xE141}));
}

TEST(Com, StartsUnlessAskedToFail) {
    unsetenv("SKYRELAY_FAIL_COM");
    EXPECT_EQ(plat::ComInitialize(), hresult::Ok);
    setenv("SKYRELAY_FAIL_COM", "1", 1);
    EXPECT_TRUE(Failed(plat::ComInitialize()));
    setenv("SKYRELAY_FAIL_COM", "0", 1);
    EXPECT_EQ(plat::ComInitialize(), hresult::Ok);
    unsetenv("SKYRELAY_FAIL_COM");
}

} // namespace
