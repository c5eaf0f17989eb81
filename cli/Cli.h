// kelvane-cli: one subcommand per file, each registering itself with KELVANE_CLI_COMMAND.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Arguments after the subcommand name, with helpers for the usual flag forms.
class Args {
public:
    explicit Args(std::vector<std::string> args) : args_(std::move(args)) {}

    // "--name" present (removed once taken).
    bool Flag(const std::string& name);
    // "--name VALUE" or "--name=VALUE"; false when absent. A flag without its value is an
    // error reported through Error().
    bool Option(const std::string& name, std::string& value);
    // What is left after the flags were taken; an unknown "--x" left over is an error.
    std::vector<std::string> Positional();

    bool HasError() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }

private:
    std::vector<std::string> args_;
    std::string error_;
};

using Runner = int (*)(Args&);

struct Command {
    const char* name;
    const char* usage; // one line: "show FILE | show --default"
    Runner run;
    // Started through cControllerSession, so it takes kSessionOptions too; they are not
    // written in its usage, the help adds them.
    bool session = false;
};

// What cControllerSession::Start takes, as the help shows it after a session command's name.
inline constexpr const char* kSessionOptions =
    "[--port PATH] [--language NAME] [--trace FILE] [--quiet] [--no-backup]";

// Registers a subcommand; used through KELVANE_CLI_COMMAND and KELVANE_CLI_SESSION_COMMAND.
bool Register(const Command& command);

// The command's line in the help ("restore [--port PATH] ... ID [--password PW] [--yes]"),
// the one source of the manual page's synopsis and the shell completion.
std::string UsageLine(const Command& command);

// Message on standard error with the program's name in front; returns the exit code.
int Fail(const std::string& message, int code = 1);

// A text argument (a password) as the terminal typed it, in the locale's encoding (LC_ALL,
// LC_CTYPE, LANG), turned into UTF-8. Under the plain C locale valid UTF-8 is taken as it is.
// False, with the reason in error, when the bytes are not text in that encoding.
bool LocaleText(const std::string& argument, std::string& utf8, std::string& error);

} // namespace cli

#define KELVANE_CLI_CAT2(a, b) a##b
#define KELVANE_CLI_CAT(a, b) KELVANE_CLI_CAT2(a, b)
#define KELVANE_CLI_COMMAND(name, usage, fn)                                                       \
    static const bool KELVANE_CLI_CAT(registered_, __LINE__) =                                     \
        ::cli::Register({name, usage, fn, false})
#define KELVANE_CLI_SESSION_COMMAND(name, usage, fn)                                               \
    static const bool KELVANE_CLI_CAT(registered_, __LINE__) =                                     \
        ::cli::Register({name, usage, fn, true})
