// kelvane-cli hex2bin [--base ADDR] [--limit BYTES] IN.hex OUT.bin: an Intel HEX file as the
// image the link would send, from the base up to the highest byte the file places.
#include "base/FileIo.h"
#include "cli/Cli.h"
#include "link/IntHex.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

namespace {

constexpr uint64_t kDefaultBase = 0x20000200; // where the loader runs
constexpr uint64_t kDefaultLimit = 0x4000;
constexpr uint64_t kMaxLimit = 64u * 1024 * 1024;

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool ParseNumber(const std::string& text, uint64_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return false;
    out = v;
    return true;
}

std::string ReaderError(int rc) {
    switch (rc) {
    case cIntHex::kBadDigit:
        return "not a hexadecimal digit, or the file ends inside a record";
    case cIntHex::kNoRecord:
        return "the file ends before the next record (no end record)";
    case cIntHex::kBadChecksum:
        return "check byte wrong";
    case cIntHex::kBadType:
        return "unknown record type";
    case cIntHex::kTooLong:
        return "record too long";
    case cIntHex::kOpenFailed:
        return std::string("cannot open: ") + std::strerror(errno);
    default:
        return "error";
    }
}

std::string Hex(uint64_t v) {
    std::ostringstream s;
    s << "0x" << std::uppercase << std::hex << v;
    return s.str();
}

int RunHex2bin(cli::Args& args) {
    std::string baseText, limitText;
    uint64_t base = kDefaultBase, limit = kDefaultLimit;
    const bool haveBase = args.Option("--base", baseText);
    const bool haveLimit = args.Option("--limit", limitText);
    std::vector<std::string> files = args.Positional();
    if (args.HasError())
        return 2;
    const std::string usage =
        "\nusage: kelvane-cli hex2bin [--base ADDR] [--limit BYTES] IN.hex OUT.bin";
    if (files.size() != 2)
        return cli::Fail("hex2bin needs IN.hex and OUT.bin" + usage, 2);
    if (haveBase && (!ParseNumber(baseText, base) || base > 0xFFFFFFFFu))
        return cli::Fail("--base: not a 32-bit address: '" + baseText + "'", 2);
    if (haveLimit && (!ParseNumber(limitText, limit) || limit == 0 || limit > kMaxLimit))
        return cli::Fail("--limit: not a size from 1 to " + std::to_string(kMaxLimit) + ": '" +
                             limitText + "'",
                         2);
    if (base + limit > 0x100000000ull)
        return cli::Fail("the window " + Hex(base) + " + " + Hex(limit) +
                             " goes beyond the 32-bit address space",
                         2);
    const std::string& in = files[0];
    const std::string& out = files[1];

    // Loaded twice, over 0xFF and over 0x00: a byte the file places reads the same both times,
    // a gap does not. That finds the end of the data even where it is 0xFF.
    std::vector<uint8_t> ones(limit, 0xFF), zeros(limit, 0x00);
    uint32_t count = 0, dropped = 0;
    int rc;
    {
        cIntHex reader;
        errno = 0;
        rc =
            reader.Load(in, static_cast<uint32_t>(base), ones.data(), ones.size(), count, &dropped);
    }
    if (rc != cIntHex::kOk)
        return cli::Fail(in + ": " + ReaderError(rc) + " (reader result " + std::to_string(rc) +
                         "); nothing written");
    {
        cIntHex reader;
        uint32_t count2 = 0;
        rc = reader.Load(in, static_cast<uint32_t>(base), zeros.data(), zeros.size(), count2);
    }
    if (rc != cIntHex::kOk)
        return cli::Fail(in + ": changed while being read (reader result " + std::to_string(rc) +
                         "); nothing written");
    size_t end = limit;
    while (end > 0 && ones[end - 1] != zeros[end - 1])
        --end;
    if (count == 0 || end == 0)
        return cli::Fail(in + ": no data between " + Hex(base) + " and " + Hex(base + limit) +
                         "; nothing written");
    if (dropped > 0)
        std::cerr << "kelvane-cli: " << in << ": " << dropped
                  << " bytes outside the window dropped\n";
    size_t gaps = 0;
    for (size_t i = 0; i < end; ++i)
        gaps += ones[i] != zeros[i];
    std::string error;
    if (!WriteFileAtomic(out, ones.data(), end, &error))
        return cli::Fail("cannot write " + out + ": " + error);
    std::cout << out << ": " << end << " bytes from " << Hex(base) << " (" << gaps
              << " gap bytes 0xFF)\n";
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND("hex2bin", "hex2bin [--base ADDR] [--limit BYTES] IN.hex OUT.bin", RunHex2bin);
