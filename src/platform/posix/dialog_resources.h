// The program's resources for the terminal dialog: the dialog templates, the menu and the string
// table, as the Windows resource script describes them.
#pragma once

#include <string_view>
#include <vector>

namespace posix {

inline constexpr int NoControl = -1; // a static text nobody addresses

struct ControlResource {
    enum class Kind { Text, Icon, Button };
    Kind kind = Kind::Text;
    int id = NoControl;
    std::string_view text; // for an icon, nothing
    int x = 0;             // position in dialog units, for laying the controls out in rows
    int y = 0;
};

struct MenuItemResource {
    std::string_view text;
    unsigned commandId = 0;
    char key = 0; // the key that picks the item in the terminal
};

struct PopupResource {
    std::string_view text;
    std::vector<MenuItemResource> items;
};

struct MenuResource {
    std::string_view name;
    std::vector<PopupResource> popups;
};

struct DialogResource {
    int id = 0;            // numeric template id, 0 for a named one
    std::string_view name; // template name, "" for a numeric one
    std::string_view caption;
    bool systemMenu = false;
    std::string_view menuName; // "" for none
    std::vector<ControlResource> controls;
};

// Looks a dialog template up by name (when name is not null) or by id; null when there is none.
const DialogResource* FindDialogResource(const char* name, int id);
const MenuResource* FindMenuResource(std::string_view name);
// The string table entry, "" when there is none.
std::string_view FindStringResource(unsigned id);
// Whether the program has an icon of that id.
bool HasIconResource(int id);

} // namespace posix
