// The help of kelvane-cli is the one source of its manual page's synopsis and of the shell
// completion: every option a command's source takes must be on that command's help line.
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string ReadSource(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// "--name" of every Option("--name", ...) and Flag("--name") in a source.
std::set<std::string> OptionsTaken(const std::string& source) {
    static const std::regex taken(R"re((?:Option|Flag)\("(--[a-z0-9-]+)")re");
    std::set<std::string> out;
    for (std::sregex_iterator it(source.begin(), source.end(), taken), end; it != end; ++it)
        out.insert((*it)[1]);
    return out;
}

// Command name -> its help line.
std::map<std::string, std::string> HelpLines() {
    const CliResult help = RunCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    std::map<std::string, std::string> lines;
    std::istringstream in(help.out);
    static const std::regex line(R"(^  kelvane-cli ([a-z0-9-]+)(.*)$)");
    for (std::string l; std::getline(in, l);) {
        std::smatch m;
        if (std::regex_match(l, m, line))
            lines[m[1]] = m[2];
    }
    return lines;
}

bool Mentions(const std::string& line, const std::string& option) {
    return std::regex_search(line, std::regex(option + "([^a-z0-9-]|$)"));
}

TEST(CliUsage, EveryOptionACommandTakesIsOnItsHelpLine) {
    const std::map<std::string, std::string> help = HelpLines();
    const std::filesystem::path cli = KELVANE_SOURCE_DIR "/cli";
    const std::set<std::string> session = OptionsTaken(ReadSource(cli / "ControllerUi.cpp"));
    ASSERT_TRUE(session.count("--language") && session.count("--port"));
    static const std::regex registered(R"re(KELVANE_CLI_(SESSION_)?COMMAND\(\s*"([a-z0-9-]+)")re");
    size_t commands = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cli)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind("Cmd", 0) != 0)
            continue;
        const std::string source = ReadSource(entry.path());
        const bool startsSession = source.find("session.Start") != std::string::npos;
        std::string lines; // the help lines of the file's commands
        for (std::sregex_iterator it(source.begin(), source.end(), registered), end; it != end;
             ++it) {
            ++commands;
            const std::string name = (*it)[2];
            EXPECT_EQ((*it)[1].matched, startsSession)
                << file << ": " << name << " starts a session: register it as a session command";
            ASSERT_TRUE(help.count(name)) << name << " is not in the help";
            lines += help.at(name) + "\n";
        }
        std::set<std::string> options = OptionsTaken(source);
        if (startsSession)
            options.insert(session.begin(), session.end());
        for (const std::string& option : options)
            EXPECT_TRUE(Mentions(lines, option))
                << file << " takes " << option << ", its help line does not say so:\n"
                << lines;
    }
    EXPECT_EQ(commands, help.size());
}

} // namespace
