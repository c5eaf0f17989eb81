#include "app/ProgramVersion.h"
#include "cli/Cli.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>

namespace cli {

namespace {
std::map<std::string, Command>& Commands() {
    static std::map<std::string, Command> commands;
    return commands;
}
} // namespace

bool Register(const Command& command) {
    Commands()[command.name] = command;
    return true;
}

int Fail(const std::string& message, int code) {
    std::cerr << "kelvane-cli: " << message << "\n";
    return code;
}

bool Args::Flag(const std::string& name) {
    auto it = std::find(args_.begin(), args_.end(), name);
    if (it == args_.end())
        return false;
    args_.erase(it);
    return true;
}

bool Args::Option(const std::string& name, std::string& value) {
    for (auto it = args_.begin(); it != args_.end(); ++it) {
        if (*it == name) {
            if (it + 1 == args_.end()) {
                error_ = name + " needs a value";
                args_.erase(it);
                return false;
            }
            value = *(it + 1);
            args_.erase(it, it + 2);
            return true;
        }
        if (it->rfind(name + "=", 0) == 0) {
            value = it->substr(name.size() + 1);
            args_.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<std::string> Args::Positional() {
    for (const auto& a : args_) {
        if (a.size() > 1 && a[0] == '-' && a != "-" && error_.empty())
            error_ = "unknown option " + a;
    }
    return args_;
}

} // namespace cli

static int Usage(std::ostream& out) {
    out << "usage: kelvane-cli COMMAND [ARGS]\n       kelvane-cli --version\n\ncommands:\n";
    for (const auto& [name, c] : cli::Commands())
        out << "  kelvane-cli " << c.usage << "\n";
    return 2;
}

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage(std::cerr);
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        Usage(std::cout);
        return 0;
    }
    if (name == "--version") {
        std::cout << "kelvane-cli " << GetProgramVersion() << "\n";
        return 0;
    }
    auto it = cli::Commands().find(name);
    if (it == cli::Commands().end()) {
        std::cerr << "kelvane-cli: unknown command '" << name << "'\n";
        return Usage(std::cerr);
    }
    cli::Args args(std::vector<std::string>(argv + 2, argv + argc));
    try {
        int rc = it->second.run(args);
        if (args.HasError())
            return cli::Fail(args.Error() + "\nusage: kelvane-cli " + it->second.usage, 2);
        return rc;
    } catch (const std::exception& e) {
        return cli::Fail(e.what());
    }
}
