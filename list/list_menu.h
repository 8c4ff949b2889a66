// The preview list's context menu as data: its entries with their check marks and greying
// for the list's present state, and what a sort command or a column click chooses. The host
// shows the entries in its own menu and hands the chosen command back to the list.
#pragma once

#include <string>
#include <vector>

namespace scopa {

inline constexpr int kMenuSeparator = 0;
inline constexpr int kMenuEdit = 32777;
inline constexpr int kMenuPreview = 32778;
inline constexpr int kMenuLargePreviews = 32768;  // + style for the four styles
inline constexpr int kMenuSmallPreviews = 32769;
inline constexpr int kMenuList = 32770;
inline constexpr int kMenuDetails = 32771;
inline constexpr int kMenuByName = 32772;
inline constexpr int kMenuByType = 32773;
inline constexpr int kMenuBySize = 32774;
inline constexpr int kMenuByDate = 32775;

struct MenuEntry {
    int id = kMenuSeparator;
    std::string text;
    bool checked = false;
    bool disabled = false;
};

// What the menu depends on.
struct ListMenuState {
    int style = 0;       // 0 to 3
    int sort_order = 0;  // 0 to 7
    bool force_date_order = false;
    bool double_click_launch = false;
    bool has_selection = false;
    bool selected_is_folder = false;
    bool selected_is_picture = false;  // a picture or custom item
};

std::vector<MenuEntry> BuildListMenu(const ListMenuState& state);

// The order a sort command chooses: the pair's first order, or its second when the first is
// the present one. -1 for a command that is no sort command.
int SortOrderForCommand(int command, int current_order);
// The sort command a click on a details column stands for (name, size, type, date).
int SortCommandForColumn(int column);

}  // namespace scopa
