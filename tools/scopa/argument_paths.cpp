// Paths typed on the command line, as the commands that take folders and files resolve them.
#include <filesystem>
#include <string>

#include "command.h"

namespace scopa::tool {

bool IsVirtualFolderText(const std::string& text) {
    return text.rfind("::{", 0) == 0;
}

std::string PathFromArgument(const std::string& argument) {
    if (argument.empty() || IsVirtualFolderText(argument)) return argument;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(argument, error);
    return error ? argument : absolute.lexically_normal().string();
}

}  // namespace scopa::tool
