// kelvane-cli library add NAME FILE [--note TEXT] | list [--json] | show NAME[@VERSION] [--json]
// | export NAME[@VERSION] FILE [--yes]: the approved configurations, each name with numbered
// versions that never change once added.
#include "base/FileIo.h"
#include "cli/Cli.h"
#include "cli/FleetCli.h"
#include "cli/HistoryCli.h"
#include "files/ConfigFile.h"
#include "model/ImageListing.h"

#include <filesystem>
#include <iostream>
#include <map>

namespace {

constexpr const char* kUsage =
    "usage: kelvane-cli library add NAME FILE [--note TEXT] | library list [--json] | "
    "library show NAME[@VERSION] [--json] | library export NAME[@VERSION] FILE [--yes]";

std::string Dump(const nlohmann::json& j) {
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A configuration file whose seal holds, or a 512-byte image; only what a configuration
// carries is kept (the store takes the configuration copy).
bool ReadConfiguration(const std::string& path, ParameterBlock& out, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = path + (std::filesystem::exists(path, ec) ? ": not a file" : ": no such file");
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, 4096, &error)) {
        error = "cannot read " + path + ": " + error;
        return false;
    }
    if (bytes.size() == ParameterBlock::kSize) {
        std::copy(bytes.begin(), bytes.end(), out.bytes.begin());
    } else {
        const ConfigParse parse = ParseConfigFile(bytes.data(), bytes.size());
        if (!parse.Valid()) {
            error = path + ": not a configuration file (" + ConfigStatusText(parse.status) +
                    ") nor a 512-byte image";
            return false;
        }
        out.bytes = parse.image;
    }
    const int kind = out.MachineKindFromModel();
    if (kind != 14 && kind != 18) {
        error = path + ": the machine type \"" + MachineTypeOf(out) +
                "\" names no machine this program parameterises";
        return false;
    }
    return true;
}

bool Ref(const std::string& text, LibraryRef& ref) {
    if (ParseLibraryRef(text, ref))
        return true;
    cli::Fail("\"" + text +
                  "\" is no configuration name (NAME or NAME@VERSION; a name has 1 "
                  "to 64 characters and no '@')",
              2);
    return false;
}

int Add(cFleetStore& fleet, const std::vector<std::string>& rest, const std::string& note) {
    if (rest.size() != 3)
        return cli::Fail(kUsage, 2);
    if (!ValidLibraryName(rest[1]))
        return cli::Fail("\"" + rest[1] + "\" is no usable name (1 to 64 characters, no '@')", 2);
    ParameterBlock image;
    std::string error;
    if (!ReadConfiguration(rest[2], image, error))
        return cli::Fail(error);
    const int version = fleet.AddVersion(rest[1], image, note, error);
    if (!version)
        return cli::Fail("library add: " + error);
    auto added = fleet.Find({rest[1], version}, error);
    std::cout << rest[1] << " v" << version << " added (" << (added ? added->digest : "") << ")\n";
    return 0;
}

int List(cFleetStore& fleet, bool json) {
    std::string error;
    const std::vector<LibraryVersion> all = fleet.Versions("", error);
    if (!error.empty())
        return cli::Fail("library list: " + error);
    if (json) {
        nlohmann::json names = nlohmann::json::array();
        for (const LibraryVersion& v : all) {
            if (names.empty() || names.back()["name"] != v.name)
                names.push_back({{"name", v.name}, {"versions", nlohmann::json::array()}});
            nlohmann::json one = LibraryVersionJson(v);
            one.erase("name");
            names.back()["versions"].push_back(one);
        }
        std::cout << Dump(names) << "\n";
        return 0;
    }
    if (all.empty()) {
        std::cout << "no approved configurations\n";
        return 0;
    }
    // The newest version of each name, with how many there are.
    std::map<std::string, std::pair<const LibraryVersion*, int>> newest;
    for (const LibraryVersion& v : all) {
        auto& n = newest[v.name];
        n.first = &v;
        ++n.second;
    }
    for (const auto& [name, n] : newest)
        std::cout << name << "\tv" << n.first->version << "\t" << n.second << " versions\t"
                  << cHistoryStore::LocalTime(n.first->timeMs) << "\t" << n.first->user << "\t"
                  << MachineTypeOf(n.first->image) << "\t" << n.first->note << "\n";
    return 0;
}

int Show(cFleetStore& fleet, const std::vector<std::string>& rest, bool json) {
    LibraryRef ref;
    if (rest.size() != 2)
        return cli::Fail(kUsage, 2);
    if (!Ref(rest[1], ref))
        return 2;
    std::string error;
    auto v = fleet.Find(ref, error);
    if (!v)
        return cli::Fail("library show: " + error);
    const std::vector<std::string> lines = ListImage(v->image, ContextFor(v->image));
    if (json) {
        nlohmann::json j = LibraryVersionJson(*v);
        nlohmann::json fields = nlohmann::json::object();
        for (const std::string& line : lines)
            if (size_t eq = line.find(" = "); eq != std::string::npos)
                fields[line.substr(0, eq)] = line.substr(eq + 3);
        j["fields"] = fields;
        j["image"] = HexOf(v->image.bytes.data(), v->image.bytes.size());
        std::cout << Dump(j) << "\n";
        return 0;
    }
    std::cout << "name = " << v->name << "\nversion = " << v->version
              << "\ntime = " << cHistoryStore::LocalTime(v->timeMs) << "\nuser = " << v->user
              << "\nnote = " << v->note << "\ndigest = " << v->digest << "\n";
    for (const std::string& line : lines)
        std::cout << line << "\n";
    return 0;
}

int Export(cFleetStore& fleet, const std::vector<std::string>& rest, bool yes) {
    LibraryRef ref;
    if (rest.size() != 3 || rest[2].empty())
        return cli::Fail(kUsage, 2);
    if (!Ref(rest[1], ref))
        return 2;
    std::string error;
    auto v = fleet.Find(ref, error);
    if (!v)
        return cli::Fail("library export: " + error);
    std::error_code ec;
    if (std::filesystem::exists(rest[2], ec) && !yes)
        return cli::Fail(rest[2] + " exists; --yes replaces it");
    if (WriteConfigFile(rest[2], v->image.bytes, &error) != 0)
        return cli::Fail("cannot write " + rest[2] + ": " + error);
    std::cout << v->name << " v" << v->version << " written to " << rest[2] << "\n";
    return 0;
}

int RunLibrary(cli::Args& args) {
    const bool json = args.Flag("--json");
    const bool yes = args.Flag("--yes");
    std::string note;
    const bool haveNote = args.Option("--note", note);
    const std::vector<std::string> rest = args.Positional();
    if (args.HasError())
        return 2;
    const std::string what = rest.empty() ? "" : rest[0];
    if ((what != "add" && haveNote) || (what != "list" && what != "show" && json) ||
        (what != "export" && yes) ||
        (what != "add" && what != "list" && what != "show" && what != "export"))
        return cli::Fail(kUsage, 2);
    if (what == "list" && rest.size() != 1)
        return cli::Fail(kUsage, 2);

    cHistoryStore history;
    cFleetStore fleet;
    if (!OpenFleet(history, fleet))
        return 1;
    if (what == "add")
        return Add(fleet, rest, note);
    if (what == "list")
        return List(fleet, json);
    if (what == "show")
        return Show(fleet, rest, json);
    return Export(fleet, rest, yes);
}

} // namespace

KELVANE_CLI_COMMAND("library",
                    "library add NAME FILE [--note TEXT] | list [--json] | show NAME[@VERSION] "
                    "[--json] | export NAME[@VERSION] FILE [--yes]",
                    RunLibrary);
