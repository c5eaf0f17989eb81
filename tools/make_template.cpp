// Report templates are kept as UTF-8 sources in report/templates/; the installation tree
// ships them as UTF-16LE with a byte-order mark and CR LF line ends, as Windows editors
// write them.
//
//   tool_make_template OUT_DIR SRC...        write OUT_DIR/<name> for each source
//   tool_make_template --check DIR SRC...    exit 1 when DIR/<name> differs from what SRC gives
#include "base/FileIo.h"
#include "base/TextCodec.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Convert(const std::vector<uint8_t>& utf8) {
    std::string text(utf8.begin(), utf8.end());
    std::string crlf;
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    const std::string bytes = "\xFF\xFE" + Utf16ToBytes(Utf8ToUtf16(crlf), false);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::string BaseName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool check = !args.empty() && args[0] == "--check";
    if (check)
        args.erase(args.begin());
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: tool_make_template [--check] DIR SRC...\n");
        return 2;
    }
    const std::string dir = args[0];
    int rc = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        std::vector<uint8_t> src, want, have;
        std::string error;
        if (!ReadWholeFile(args[i], src, 1 << 20, &error)) {
            std::fprintf(stderr, "%s: %s\n", args[i].c_str(), error.c_str());
            return 1;
        }
        want = Convert(src);
        const std::string target = dir + "/" + BaseName(args[i]);
        if (check) {
            if (!ReadWholeFile(target, have, 1 << 21, &error) || have != want) {
                std::fprintf(stderr, "%s is not what %s gives; run the build and copy it\n",
                             target.c_str(), args[i].c_str());
                rc = 1;
            }
        } else if (!WriteFileAtomic(target, want.data(), want.size(), &error)) {
            std::fprintf(stderr, "%s: %s\n", target.c_str(), error.c_str());
            return 1;
        }
    }
    return rc;
}
