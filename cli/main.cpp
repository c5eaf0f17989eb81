#include "app/ProgramVersion.h"
#include "cli/Cli.h"

#include "base/TextCodec.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <iostream>
#include <langinfo.h>
#include <locale.h>
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

std::string UsageLine(const Command& command) {
    std::string line = command.usage;
    if (command.session) {
        const std::string name = command.name;
        // After every occurrence of the name that starts an alternative ("a | b").
        std::string out;
        size_t from = 0;
        for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) {
            const bool starts = at == 0 || line.compare(at - 2, 2, "| ") == 0;
            const size_t end = at + name.size();
            if (!starts || (end < line.size() && line[end] != ' '))
                continue;
            out += line.substr(from, end - from) + " " + kSessionOptions;
            from = end;
        }
        line = out + line.substr(from);
    }
    return line;
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

bool LocaleText(const std::string& argument, std::string& utf8, std::string& error) {
    locale_t locale = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!locale)
        locale = ::newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    const std::string codeset = locale ? ::nl_langinfo_l(CODESET, locale) : "";
    std::u32string text;
    bool ok = true;
    if (locale && codeset != "UTF-8") {
        const locale_t previous = ::uselocale(locale);
        std::mbstate_t state{};
        for (size_t i = 0; i < argument.size();) {
            wchar_t c = 0;
            const size_t n = std::mbrtowc(&c, argument.data() + i, argument.size() - i, &state);
            if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
                ok = false;
                break;
            }
            text.push_back(static_cast<char32_t>(c));
            i += n == 0 ? 1 : n;
        }
        ::uselocale(previous);
    }
    if (locale)
        ::freelocale(locale);
    if (codeset == "UTF-8" || (!ok && (codeset == "ANSI_X3.4-1968" || codeset.empty()))) {
        if (!IsValidUtf8(argument)) {
            error = "not UTF-8 text";
            return false;
        }
        utf8 = argument;
        return true;
    }
    if (!ok) {
        error = "not text in the locale's encoding (" + codeset + ")";
        return false;
    }
    std::u16string units;
    for (char32_t c : text) {
        if (c >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
    }
    utf8 = Utf16ToUtf8(units);
    return true;
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
        out << "  kelvane-cli " << cli::UsageLine(c) << "\n";
    out << "\noptions of the commands that reach a machine:\n"
           "  --port PATH     the device; without it the chosen entry of the port list\n"
           "                  (kelvane-cli ports marks it with *)\n"
           "  --language NAME the language of the messages (default: the settings' language)\n"
           "  --trace FILE    every byte on the line, with its time and direction, into FILE\n"
           "  --quiet         no progress bar on standard error\n"
           "  --no-backup     write even when the service history cannot keep a backup\n";
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
            return cli::Fail(args.Error() + "\nusage: kelvane-cli " + cli::UsageLine(it->second),
                             2);
        return rc;
    } catch (const std::exception& e) {
        return cli::Fail(e.what());
    }
}
