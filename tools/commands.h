// The zemo3 command's sub-commands. Each tools/cmd_*.cpp registers its own
// with a static ZEMO3_COMMAND registrar, so adding a command touches no other file.
#pragma once

#include <string>
#include <vector>

namespace zemo3 {

// Exit codes shared by every command.
enum Exit : int {
    EXIT_OK = 0,
    EXIT_REJECTED = 1,  // the work was refused: a rejected frame, a failed check
    EXIT_USAGE = 2,     // bad arguments, unreadable or unwritable files
};

using CommandFn = int (*)(const std::vector<std::string>& args);

struct CommandRegistrar {
    CommandRegistrar(const char* name, const char* summary, CommandFn fn);
};

// Prints "zemo3: <message>" on stderr and returns code.
int fail(int code, const std::string& message);

}  // namespace zemo3

#define ZEMO3_COMMAND(name, summary, fn) static const ::zemo3::CommandRegistrar zemo3_registrar_##fn(name, summary, fn)
