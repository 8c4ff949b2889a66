#include "list/list_menu.h"

#include <algorithm>

namespace scopa {

std::vector<MenuEntry> BuildListMenu(const ListMenuState& state) {
    std::vector<MenuEntry> menu = {
        {kMenuEdit, "Edit..."},
        {kMenuPreview, "Preview..."},
        {kMenuSeparator, ""},
        {kMenuLargePreviews, "Lar&ge previews"},
        {kMenuSmallPreviews, "S&mall Previews"},
        {kMenuList, "&List"},
        {kMenuDetails, "&Details"},
        {kMenuSeparator, ""},
        {kMenuByName, "by &Name"},
        {kMenuByType, "by &Type"},
        {kMenuBySize, "by Si&ze"},
        {kMenuByDate, "by &Date"},
    };
    auto entry = [&menu](int id) -> MenuEntry& {
        return *std::find_if(menu.begin(), menu.end(),
                             [id](const MenuEntry& e) { return e.id == id; });
    };
    entry(kMenuLargePreviews + (state.style & 3)).checked = true;
    if (state.force_date_order) {
        entry(kMenuByDate).checked = true;
        for (int id = kMenuByName; id <= kMenuByDate; ++id)
            entry(id).disabled = true;
    } else {
        // The pairs are name, type, size, date, as the commands are.
        entry(kMenuByName + (state.sort_order & 7) / 2).checked = true;
    }
    if (state.double_click_launch) {
        bool folder = state.selected_is_folder;
        if (state.has_selection && (!folder || state.selected_is_picture)) {
            entry(kMenuEdit).disabled = folder;
            entry(kMenuPreview).disabled = !state.selected_is_picture;
        }
    } else {
        menu.erase(menu.begin(), menu.begin() + 2);
        if (menu.front().id == kMenuSeparator) menu.erase(menu.begin());
    }
    return menu;
}

int SortOrderForCommand(int command, int current_order) {
    if (command < kMenuByName || command > kMenuByDate) return -1;
    int first = (command - kMenuByName) * 2;
    return current_order == first ? first + 1 : first;
}

int SortCommandForColumn(int column) {
    switch (column) {
        case 0:
            return kMenuByName;
        case 1:
            return kMenuBySize;
        case 2:
            return kMenuByType;
        case 3:
            return kMenuByDate;
        default:
            return -1;
    }
}

}  // namespace scopa
