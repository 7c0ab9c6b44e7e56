// The resource table: dialog 102 (the main window), ABOUTBOX, the menu IDR_MENU1, string 101 and
// icon 103.
#include "platform/posix/dialog_resources.h"

#include <string>

namespace posix {
namespace {

using Kind = ControlResource::Kind;

const std::vector<DialogResource>& Dialogs() {
    static const std::vector<DialogResource> dialogs{
        {102,
         "",
         "Skyrelay",
         true,
         "IDR_MENU1",
         {{Kind::Text, 104, "", 7, 7},
          {Kind::Text, NoControl, "FS PATH:", 6, 24},
          {Kind::Text, 1007, "Static", 36, 24}}},
        {0,
         "ABOUTBOX",
         "About Skyrelay",
         true,
         "",
         {{Kind::Icon, NoControl, "", 11, 17},
          {Kind::Text, NoControl, "Skyrelay Version 2.0", 40, 10},
          {Kind::Text, NoControl, "The Skyrelay team", 40, 25},
          {Kind::Button, 1, "OK", 123, 16}}},
    };
    return dialogs;
}

const std::vector<MenuResource>& Menus() {
    static const std::vector<MenuResource> menus{
        {"IDR_MENU1",
         {{"&File", {{"FS Path", 135, 'p'}, {"E&xit", 0xE141, 'x'}}},
          {"Multiplayer connect", {{"TCP/IP", 154, 't'}, {"IPX/SPX", 155, 'i'}}},
          {"Config", {{"Using SquawkBox", 156, 's'}, {"Manual connect only", 157, 'm'}}}}},
    };
    return menus;
}

} // namespace

const DialogResource* FindDialogResource(const char* name, int id) {
    for (const auto& dialog : Dialogs())
        if (name != nullptr ? dialog.name == name : (dialog.name.empty() && dialog.id == id))
            return &dialog;
    return nullptr;
}

const MenuResource* FindMenuResource(std::string_view name) {
    for (const auto& menu : Menus())
        if (menu.name == name)
            return &menu;
    return nullptr;
}

std::string_view FindStringResource(unsigned id) {
    return id == 101 ? std::string_view("&About Skyrelay") : std::string_view();
}

bool HasIconResource(int id) {
    return id == 103;
}

} // namespace posix
