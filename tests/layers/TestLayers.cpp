// Every #include "..." of the tree against the layers the folders are built in: a folder may
// include itself and what lies below it, never a folder beside or above it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The folders of the core libraries and what each uses directly; what those use may be
// included as well. A core folder's gui/ (its Qt side) may use the folder, everything the
// folder may use, and the gui/ folders of those; no core folder includes any gui/.
const std::map<std::string, std::vector<std::string>> kCore = {
    {"base", {}},
    {"crypto", {"base"}},
    {"model", {"crypto"}},
    {"lang", {"model"}},
    {"link", {"model"}},
    {"history", {"model"}},
    {"files", {"model"}},
    {"pages", {"model", "lang"}},
    {"report", {"model", "lang"}},
    {"fleet", {"model", "history", "report", "files"}},
    {"app", {"link", "files", "report", "lang", "fleet", "history", "pages"}},
};

// The folders around the core. "*" is every folder of the tree but the ones named after it
// with a "-".
const std::map<std::string, std::vector<std::string>> kOthers = {
    {"sim", {"link", "model"}},     // the simulated machine plays the machine, not the program
    {"cli", {"app", "report/gui"}}, // the report's JPEG export is its one Qt piece
    {"tools", {"files", "lang", "link", "history", "pages", "report", "fleet", "sim"}},
    {"bench", {"*", "-cli", "-tests"}}, // measures the real code, the window included
    {"fuzz", {"*", "-cli", "-tests", "-gui"}},
    {"tests", {"*"}},
};

bool IsCore(const std::string& unit) {
    return kCore.count(unit) > 0;
}

// The unit a path of the tree belongs to: its top folder, or "<core>/gui" below a core folder.
std::string UnitOf(const fs::path& relative) {
    auto it = relative.begin();
    if (it == relative.end())
        return {};
    std::string top = it->string();
    ++it;
    if (IsCore(top) && it != relative.end() && std::next(it) != relative.end() && *it == "gui")
        return top + "/gui";
    return top;
}

void AddReach(const std::string& unit, std::set<std::string>& out);

void AddWithReach(const std::string& unit, std::set<std::string>& out) {
    if (out.insert(unit).second)
        AddReach(unit, out);
}

// Everything unit may include besides itself.
void AddReach(const std::string& unit, std::set<std::string>& out) {
    const auto slash = unit.find("/gui");
    if (slash != std::string::npos) {
        const std::string core = unit.substr(0, slash);
        std::set<std::string> below;
        AddWithReach(core, below);
        for (const std::string& u : below) {
            out.insert(u);
            if (IsCore(u))
                out.insert(u + "/gui");
        }
        return;
    }
    if (auto c = kCore.find(unit); c != kCore.end()) {
        for (const std::string& u : c->second)
            AddWithReach(u, out);
        return;
    }
    if (auto o = kOthers.find(unit); o != kOthers.end()) {
        for (const std::string& u : o->second)
            if (u != "*" && u.front() != '-')
                AddWithReach(u, out);
    }
}

// "*": any unit but those excluded ("-gui" excludes every gui folder).
bool WildcardAllows(const std::string& unit, const std::string& target) {
    auto o = kOthers.find(unit);
    if (o == kOthers.end() || std::find(o->second.begin(), o->second.end(), "*") == o->second.end())
        return false;
    for (const std::string& u : o->second) {
        if (u.empty() || u.front() != '-')
            continue;
        const std::string excluded = u.substr(1);
        if (target == excluded || (excluded == "gui" && target.find("/gui") != std::string::npos))
            return false;
    }
    return true;
}

bool IsSource(const fs::path& p) {
    const std::string ext = p.extension().string();
    return ext == ".h" || ext == ".hpp" || ext == ".cpp" || ext == ".cc" || ext == ".inc";
}

// Collapses "a/../b" without touching the disk; empty when it climbs above the top.
fs::path Normal(const fs::path& p) {
    std::vector<fs::path> parts;
    for (const fs::path& part : p) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (parts.empty())
                return {};
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    fs::path out;
    for (const fs::path& part : parts)
        out /= part;
    return out;
}

struct Scan {
    std::vector<std::string> violations;
    size_t files = 0;
    size_t includes = 0;
};

// Reads every source file under the folders of root that the build knows (a CMakeLists.txt).
Scan CheckTree(const fs::path& root) {
    Scan scan;
    std::set<std::string> folders;
    for (const auto& e : fs::directory_iterator(root)) {
        const std::string name = e.path().filename().string();
        if (e.is_directory() && name.front() != '.' && fs::exists(e.path() / "CMakeLists.txt"))
            folders.insert(name);
    }
    static const std::regex kInclude(R"(^\s*#\s*include\s*"([^"]+)\")");
    for (const std::string& folder : folders) {
        const bool known = IsCore(folder) || kOthers.count(folder) > 0;
        std::set<std::string> allowed;
        for (const auto& e : fs::recursive_directory_iterator(root / folder)) {
            if (!e.is_regular_file() || !IsSource(e.path()))
                continue;
            ++scan.files;
            const fs::path rel = fs::relative(e.path(), root);
            if (!known) {
                scan.violations.push_back(rel.string() + ": folder " + folder +
                                          "/ is not in the table of layers");
                break;
            }
            const std::string unit = UnitOf(rel);
            allowed.clear();
            AddReach(unit, allowed);
            std::ifstream in(e.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch m;
                if (!std::regex_search(line, m, kInclude))
                    continue;
                ++scan.includes;
                const std::string written = m[1].str();
                const std::string where =
                    rel.string() + ":" + std::to_string(number) + ": #include \"" + written + "\"";
                // Beside the file first, as the compiler looks, then from the tree's top.
                const bool relative = written.rfind("../", 0) == 0 || written.rfind("./", 0) == 0;
                fs::path target = Normal(rel.parent_path() / written);
                if (relative && target.empty()) {
                    scan.violations.push_back(where + ": climbs out of the tree");
                    continue;
                }
                if (!relative && !fs::exists(root / target)) {
                    if (written.find('/') == std::string::npos)
                        continue; // made in the build (moc), or not ours
                    target = Normal(fs::path(written));
                    if (target.empty())
                        continue;
                }
                const std::string top = target.begin()->string();
                if (!folders.count(top) && !IsCore(top) && !kOthers.count(top))
                    continue; // not a folder of ours
                const std::string to = UnitOf(target);
                if (to == unit || allowed.count(to) || WildcardAllows(unit, to))
                    continue;
                scan.violations.push_back(where + ": " + unit + "/ may not use " + to + "/");
            }
        }
    }
    return scan;
}

std::string Lines(const std::vector<std::string>& v) {
    std::string out;
    for (const std::string& s : v)
        out += s + "\n";
    return out;
}

class TempTree {
public:
    TempTree() {
        std::string tmpl = (fs::temp_directory_path() / "kelvane-layers-XXXXXX").string();
        if (::mkdtemp(tmpl.data()))
            root_ = tmpl;
    }
    ~TempTree() {
        std::error_code ec;
        if (!root_.empty())
            fs::remove_all(root_, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const fs::path& Root() const { return root_; }
    // A file of the tree; its top folder becomes a folder of the build.
    void Write(const std::string& relative, const std::string& text) const {
        const fs::path p = root_ / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(root_ / *fs::path(relative).begin() / "CMakeLists.txt");
        std::ofstream(p) << text;
    }

private:
    fs::path root_;
};

} // namespace

TEST(Layers, OurTreeKeepsToTheTable) {
    const Scan scan = CheckTree(KELVANE_SOURCE_DIR);
    EXPECT_GT(scan.files, 100u);
    EXPECT_GT(scan.includes, 500u);
    EXPECT_TRUE(scan.violations.empty()) << Lines(scan.violations);
}

TEST(Layers, CatchesPlantedIncludes) {
    struct Case {
        const char* file;
        const char* include;
        bool allowed;
        const char* target = nullptr; // the included file, where it must exist to be found
    };
    const Case cases[] = {
        // climbing
        {"model/Image.cpp", "app/DialogMain.h", false},
        {"base/Codec.cpp", "model/ParameterBlock.h", false},
        {"model/Image.cpp", "../app/DialogMain.h", false},
        {"crypto/Sha.cpp", "../../outside.h", false},
        // crossing
        {"report/Printer.cpp", "pages/PrgStepModel.h", false},
        {"link/QVX.cpp", "files/ConfigFile.h", false},
        {"history/Store.cpp", "fleet/Compliance.h", false},
        {"sim/SimMachine.cpp", "app/WriteRoad.h", false},
        // Qt where none may be
        {"model/Image.cpp", "model/gui/DrawListPainter.h", false},
        {"pages/PrgStepModel.cpp", "gui/PageWidget.h", false, "pages/gui/PageWidget.h"},
        {"cli/CmdShow.cpp", "pages/gui/PageWidget.h", false},
        {"pages/gui/PageWidget.cpp", "app/gui/MainWindow.h", false},
        {"fuzz/ini.cpp", "app/gui/MainWindow.h", false},
        // what the table allows
        {"model/Image.cpp", "base/FileIo.h", true},
        {"model/Image.cpp", "Conversions.h", true, "model/Conversions.h"},
        {"fleet/Compliance.cpp", "history/HistoryStore.h", true},
        {"fleet/Compliance.cpp", "crypto/SHA1.h", true},
        {"app/WriteRoad.cpp", "fleet/Compliance.h", true},
        {"pages/gui/PageWidget.cpp", "model/gui/DrawListPainter.h", true},
        {"pages/gui/PageWidget.cpp", "lang/gui/Translator.h", true},
        {"app/gui/MainWindow.cpp", "fleet/gui/FleetView.h", true},
        {"cli/CmdReport.cpp", "report/gui/StepGraphicExport.h", true},
        {"tests/model/TestImage.cpp", "../TempDir.h", true, "tests/TempDir.h"},
        {"tests/app/gui/TestWindow.cpp", "app/gui/MainWindow.h", true},
        {"bench/startup.cpp", "app/gui/MainWindow.h", true},
        {"model/Image.cpp", "nlohmann/json.hpp", true},
    };
    for (const Case& c : cases) {
        TempTree tree;
        ASSERT_FALSE(tree.Root().empty());
        tree.Write(c.file, "// planted\n#include <vector>\n  #  include \"" +
                               std::string(c.include) + "\"\n");
        if (c.target)
            tree.Write(c.target, "");
        const Scan scan = CheckTree(tree.Root());
        EXPECT_EQ(scan.includes, 1u) << c.file;
        EXPECT_EQ(scan.violations.empty(), c.allowed)
            << c.file << " including " << c.include << "\n"
            << Lines(scan.violations);
        if (!c.allowed && !scan.violations.empty()) {
            EXPECT_NE(scan.violations.front().find(c.file), std::string::npos);
        }
    }
}

TEST(Layers, AFolderOutsideTheTableFails) {
    TempTree tree;
    ASSERT_FALSE(tree.Root().empty());
    tree.Write("extra/Thing.cpp", "#include \"model/ParameterBlock.h\"\n");
    tree.Write("model/ParameterBlock.h", "");
    const Scan scan = CheckTree(tree.Root());
    ASSERT_EQ(scan.violations.size(), 1u) << Lines(scan.violations);
    EXPECT_NE(scan.violations.front().find("extra/ is not in the table"), std::string::npos);
}
