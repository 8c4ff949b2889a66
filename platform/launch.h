// Starting programs without a shell: a command text is split into words as a POSIX shell
// would split it (quotes and backslashes, no expansions), and the words are handed to the
// program as its argument vector, so no file name can be read as a command. Opening a file
// with the desktop's application for its type goes through GIO, as xdg-open does.
#pragma once

#include <string>
#include <vector>

namespace scopa {

// Splits `command` into words by the shell's quoting rules; nothing is expanded or run.
// False (and `words` empty) for unbalanced quotes or a command without words.
bool SplitCommandWords(const std::string& command, std::vector<std::string>& words);

// Starts `argv[0]` (looked up in PATH) with `argv` and does not wait for it. True when the
// program started.
bool StartProgram(const std::vector<std::string>& argv);

// Opens `path` with the default application of its content type. True when one started.
bool OpenWithDefaultApplication(const std::string& path);

}  // namespace scopa
