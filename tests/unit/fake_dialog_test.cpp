// The fake backend's system menu, string table, icons and minimized-window paint.
#include "platform/fake/fake.h"

#include <gtest/gtest.h>

class FakeDialog : public ::testing::Test {
  protected:
    void SetUp() override { fake::ResetAll(); }
};

TEST_F(FakeDialog, SystemMenuTakesAppendedItemsAndFailsOnDemand) {
    EXPECT_EQ(plat::GetWindowSystemMenu(fake::MainWindow()), fake::MainSystemMenu());
    EXPECT_EQ(plat::GetWindowSystemMenu(nullptr), nullptr);

    plat::Menu system = fake::MainSystemMenu();
    fake::FailCall("AppendMenuCommand", 2, 0);
    EXPECT_NE(plat::AppendMenuCommand(system, plat::MenuSeparator, 0, nullptr), 0);
    EXPECT_EQ(plat::AppendMenuCommand(system, plat::MenuString, 0x0010, "lost"), 0);
    EXPECT_NE(plat::AppendMenuCommand(system, plat::MenuString, 0x0010, "&About Skyrelay"), 0);

    auto items = fake::AppendedItems(system);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].flags, plat::MenuSeparator);
    EXPECT_EQ(items[0].text, "");
    EXPECT_EQ(items[1].commandId, 0x0010u);
    EXPECT_EQ(items[1].text, "&About Skyrelay");
    EXPECT_EQ(fake::CallsOf("AppendMenuCommand").back(),
              "AppendMenuCommand 0 16 \"&About Skyrelay\"");
    EXPECT_TRUE(fake::AppendedItems(fake::MainMenu()).empty());

    fake::SetHasSystemMenu(false);
    EXPECT_EQ(plat::GetWindowSystemMenu(fake::MainWindow()), nullptr);
    fake::SetHasSystemMenu(true);
    fake::FailCall("GetWindowSystemMenu", 0, 0);
    EXPECT_EQ(plat::GetWindowSystemMenu(fake::MainWindow()), nullptr);
}

TEST_F(FakeDialog, StringTableHasTheAboutItemUntilChangedOrFailed) {
    EXPECT_EQ(plat::LoadResourceString(101), "&About Skyrelay");
    EXPECT_EQ(plat::LoadResourceString(102), "");
    fake::SetResourceString(101, "");
    EXPECT_EQ(plat::LoadResourceString(101), "");
    fake::ResetAll();
    fake::FailCall("LoadResourceString", 1, 0);
    EXPECT_EQ(plat::LoadResourceString(101), "");
    EXPECT_EQ(plat::LoadResourceString(101), "&About Skyrelay");
    EXPECT_EQ(fake::CallCount("LoadResourceString"), 2);
}

TEST_F(FakeDialog, IconsAreRecordedPerWindowAndSelector) {
    plat::Icon icon = plat::LoadAppIcon(103);
    EXPECT_EQ(icon, fake::AppIcon());
    EXPECT_EQ(plat::LoadAppIcon(104), nullptr);
    fake::FailCall("LoadAppIcon", 3, 0);
    EXPECT_EQ(plat::LoadAppIcon(103), nullptr);

    plat::SetWindowIcon(fake::MainWindow(), plat::IconBig, icon);
    EXPECT_EQ(fake::WindowIcon(fake::MainWindow(), plat::IconBig), icon);
    EXPECT_EQ(fake::WindowIcon(fake::MainWindow(), plat::IconSmall), nullptr);
    plat::SetWindowIcon(fake::MainWindow(), plat::IconSmall, icon);
    EXPECT_EQ(fake::WindowIcon(fake::MainWindow(), plat::IconSmall), icon);
    EXPECT_EQ(fake::CallsOf("SetWindowIcon"),
              (std::vector<std::string>{"SetWindowIcon 1", "SetWindowIcon 0"}));
}

TEST_F(FakeDialog, MinimizedPaintReportsMetricsAndRecordsIcons) {
    EXPECT_FALSE(plat::IsWindowMinimized(fake::MainWindow()));
    fake::SetMinimized(true);
    fake::SetSystemIconSize({32, 32});
    fake::SetClientAreaSize({101, 47});
    EXPECT_TRUE(plat::IsWindowMinimized(fake::MainWindow()));
    EXPECT_EQ(plat::SystemIconSize().width, 32);
    EXPECT_EQ(plat::ClientAreaSize(fake::MainWindow()).width, 101);
    EXPECT_EQ(plat::ClientAreaSize(fake::MainWindow()).height, 47);
    plat::PaintIconAt(fake::MainWindow(), fake::AppIcon(), 35, 8);
    ASSERT_EQ(fake::IconPaints().size(), 1u);
    EXPECT_EQ(fake::IconPaints()[0].icon, fake::AppIcon());
    EXPECT_EQ(fake::IconPaints()[0].x, 35);
    EXPECT_EQ(fake::IconPaints()[0].y, 8);

    fake::ResetAll();
    EXPECT_FALSE(plat::IsWindowMinimized(fake::MainWindow()));
    EXPECT_TRUE(fake::IconPaints().empty());
    EXPECT_EQ(fake::WindowIcon(fake::MainWindow(), plat::IconBig), nullptr);
}
