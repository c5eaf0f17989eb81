// Makes "BL.hex", the loader program sent into the machine's RAM. Its content is opaque to the
// tool (the machine runs it); ours is a fixed pseudo-random image inside the loader window.
//
//   tool_make_loader OUT        writes the file
//   tool_make_loader --check F  exit 0 when F holds exactly what this tool makes
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

constexpr uint32_t kLoadAddress = 0x20000200; // start of the loader window
constexpr uint32_t kSize = 0xA00;             // well inside the window's 0x4000 bytes
constexpr unsigned kPerRecord = 16;

void Record(std::ostringstream& out, unsigned count, unsigned address, unsigned type,
            const uint8_t* data) {
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    char buf[16];
    std::snprintf(buf, sizeof buf, ":%02X%04X%02X", count, address & 0xFFFF, type);
    out << buf;
    for (unsigned i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", data[i]);
        out << buf;
        sum += data[i];
    }
    std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out << buf;
}

std::string MakeLoader() {
    uint8_t image[kSize];
    uint32_t x = 0x4B454C56; // fixed seed: the file never changes
    for (auto& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    std::ostringstream out;
    const uint8_t upper[2] = {uint8_t(kLoadAddress >> 24), uint8_t(kLoadAddress >> 16)};
    Record(out, 2, 0, 4, upper);
    for (uint32_t off = 0; off < kSize; off += kPerRecord)
        Record(out, kPerRecord, (kLoadAddress + off) & 0xFFFF, 0, image + off);
    Record(out, 0, 0, 1, nullptr);
    return out.str();
}

} // namespace

int main(int argc, char** argv) {
    const std::string text = MakeLoader();
    if (argc == 3 && std::string(argv[1]) == "--check") {
        std::ifstream in(argv[2], std::ios::binary);
        std::string have((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.eof() && !in.good()) {
            std::fprintf(stderr, "tool_make_loader: cannot read %s\n", argv[2]);
            return 1;
        }
        if (have != text) {
            std::fprintf(stderr, "tool_make_loader: %s differs from the generated loader\n",
                         argv[2]);
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: tool_make_loader OUT | tool_make_loader --check FILE\n");
        return 2;
    }
    const std::string out = argv[1];
    const std::string tmp = out + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f << text;
        f.close();
        if (!f) {
            std::fprintf(stderr, "tool_make_loader: cannot write %s\n", tmp.c_str());
            std::remove(tmp.c_str());
            return 1;
        }
    }
    if (std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::fprintf(stderr, "tool_make_loader: cannot rename to %s\n", out.c_str());
        std::remove(tmp.c_str());
        return 1;
    }
    return 0;
}
