#include "resources/strings.h"

namespace scopa {

std::string FormatResourceString(int id, std::initializer_list<std::string_view> arguments) {
    std::string_view format = LoadResourceString(id);
    const std::string_view* next = arguments.begin();
    std::string text;
    text.reserve(format.size());
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            if (next != arguments.end()) text += *next++;
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}

}  // namespace scopa
