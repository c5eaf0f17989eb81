#include "lang/UTF16File.h"
#include "tests/BadInput.h"
#include "tests/lang/FixtureLangFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <vector>

namespace {

std::vector<std::string> ReadAll(const std::string& path, bool* unicode = nullptr,
                                 bool* oddByte = nullptr) {
    CUTF16File f;
    EXPECT_TRUE(f.Open(path, CUTF16File::Mode::Read)) << path;
    if (unicode)
        *unicode = f.IsUnicode();
    std::vector<std::string> lines;
    std::string line;
    while (f.ReadString(line))
        lines.push_back(line);
    EXPECT_FALSE(f.ReadString(line)) << "stays at the end";
    if (oddByte)
        *oddByte = f.HasOddByte();
    return lines;
}

using Lines = std::vector<std::string>;

struct ReadCase {
    const char* name;
    std::string bytes;
    bool unicode;
    Lines lines;
};

class Utf16Read : public testing::TestWithParam<ReadCase> {};

TEST_P(Utf16Read, LinesAndMode) {
    const ReadCase& c = GetParam();
    TempFolder dir;
    dir.Write("f.txt", c.bytes);
    bool unicode = !c.unicode;
    EXPECT_EQ(ReadAll(dir.File("f.txt"), &unicode), c.lines);
    EXPECT_EQ(unicode, c.unicode);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf16Read,
    testing::Values(
        ReadCase{"CrLfLines", Utf16Le("erste\r\nzweite\r\n"), true, {"erste", "zweite"}},
        ReadCase{"TwoEmptyLines", Utf16Le("\r\n\r\n"), true, {"", ""}},
        ReadCase{"LastLineWithoutEnd", Utf16Le("a\r\nletzte"), true, {"a", "letzte"}},
        ReadCase{"LfLinesKeepFirstCharacter", Utf16Le("abc\ndef\n"), true, {"abc", "def"}},
        // One more CR or LF right after a line end belongs to it: CR LF, LF CR, CR CR and LF LF
        // each end one line; a third one starts a blank line.
        ReadCase{
            "PairsEndOneLine", Utf16Le("a\n\nb\r\rc\n\rd\r\ne"), true, {"a", "b", "c", "d", "e"}},
        ReadCase{"ThirdLineEndIsABlankLine",
                 Utf16Le("a\r\n\r\nc\n\n\nd"),
                 true,
                 {"a", "", "c", "", "d"}},
        ReadCase{"LoneCr", Utf16Le("a\rb"), true, {"a", "b"}},
        ReadCase{"Umlauts",
                 Utf16Le("Übertragung zur Maschine\r\nß€"),
                 true,
                 {"Übertragung zur Maschine", "ß€"}},
        ReadCase{"BigEndianTwin", Utf16Be("erste\r\nÜber\r\n"), true, {"erste", "Über"}},
        ReadCase{"OnlyMark", std::string("\xFF\xFE"), true, {}},
        ReadCase{"EmptyFile", std::string(), false, {}},
        ReadCase{"OneByte", std::string("x"), false, {"x"}},
        ReadCase{"NoMarkIsEightBit", std::string("abc\r\ndef\n"), false, {"abc", "def"}},
        ReadCase{"EightBitUtf8", std::string("K\xC3\xBChlung\n"), false, {"Kühlung"}},
        ReadCase{"EightBitWindows1252", std::string("K\xFChlung \x80\n"), false, {"Kühlung €"}},
        ReadCase{"EightBitBlankLines", std::string("a\n\n\nb"), false, {"a", "", "", "b"}},
        ReadCase{"MarkOnlyAtStart", std::string("a\xFF\xFE"), false, {"a\xC3\xBF\xC3\xBE"}}),
    [](const testing::TestParamInfo<ReadCase>& i) { return std::string(i.param.name); });

TEST(Utf16File, OddTrailingByteIsReportedAndDropped) {
    TempFolder dir;
    bool odd = false;
    dir.Write("odd.txt", Utf16Le("ab\r\ncd") + "x");
    EXPECT_EQ(ReadAll(dir.File("odd.txt"), nullptr, &odd), (Lines{"ab", "cd"}));
    EXPECT_TRUE(odd);
    // After a line end, and as the only thing after the mark.
    dir.Write("odd2.txt", Utf16Le("ab\r\n") + "x");
    EXPECT_EQ(ReadAll(dir.File("odd2.txt"), nullptr, &odd), (Lines{"ab"}));
    EXPECT_TRUE(odd);
    dir.Write("odd3.txt", std::string("\xFF\xFEx"));
    EXPECT_EQ(ReadAll(dir.File("odd3.txt"), nullptr, &odd), (Lines{}));
    EXPECT_TRUE(odd);
}

TEST(Utf16File, BadInputsRefusedAtOnce) {
    TempFolder dir;
    const auto inputs = MakeBadInputs(dir.Path(), "t", uint64_t{1} << 30);
    ASSERT_FALSE(inputs.empty());
    for (const BadInput& in : inputs) {
        CUTF16File f;
        const bool opened = f.Open(in.path, CUTF16File::Mode::Read);
        if (in.what == "empty file" || in.what == "huge file") {
            // Plain files open; the readers above decide about the size.
            EXPECT_TRUE(opened) << in.what;
            EXPECT_EQ(f.GetLength(), in.what == "empty file" ? 0u : uint64_t{1} << 30);
        } else {
            EXPECT_FALSE(opened) << in.what;
            EXPECT_NE(f.ErrorNumber(), 0) << in.what;
        }
    }
}

TEST(Utf16File, MemoryReadsAndWritesLikeAFile) {
    TempFolder dir;
    const std::string bytes = Utf16Le("eins\r\nzwei\r\ndrei");
    dir.Write("t.txt", bytes);
    CUTF16File disk, memory;
    ASSERT_TRUE(disk.Open(dir.File("t.txt"), CUTF16File::Mode::Read));
    memory.OpenMemory(bytes);
    EXPECT_TRUE(memory.IsUnicode());
    EXPECT_EQ(memory.GetLength(), disk.GetLength());
    std::string a, b;
    ASSERT_TRUE(disk.ReadString(a) && memory.ReadString(b));
    const uint64_t second = memory.GetPosition();
    EXPECT_EQ(second, disk.GetPosition());
    while (disk.ReadString(a)) {
        ASSERT_TRUE(memory.ReadString(b));
        EXPECT_EQ(a, b);
    }
    EXPECT_FALSE(memory.ReadString(b));
    ASSERT_TRUE(memory.SeekAndReset(static_cast<int64_t>(second)));
    ASSERT_TRUE(memory.ReadString(b));
    EXPECT_EQ(b, "zwei");

    CUTF16File out;
    out.OpenMemoryOutput();
    EXPECT_TRUE(out.WriteUnicodeText(std::string_view("a\n")));
    EXPECT_TRUE(out.WriteUnicodeText(std::string_view("b")));
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(out.MemoryText(), Utf16Le("a\nb"));
    EXPECT_EQ(dir.EntryCount(), 1u) << "nothing written to disk";
}

TEST(Utf16File, MissingFileOrFolderDoesNotOpen) {
    TempFolder dir;
    CUTF16File f;
    EXPECT_FALSE(f.Open(dir.File("nichts.txt"), CUTF16File::Mode::Read));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_NE(f.ErrorNumber(), 0);
    EXPECT_FALSE(f.Open(dir.Path(), CUTF16File::Mode::Read));
    EXPECT_FALSE(f.Open("/dev/zero", CUTF16File::Mode::Read)) << "no endless line from a device";
    std::string line;
    EXPECT_FALSE(f.ReadString(line));
    EXPECT_FALSE(f.Open(dir.File("no/such/dir/out.html"), CUTF16File::Mode::Write));
}

TEST(Utf16File, LongLinesAcrossReadAheadComeWhole) {
    // Lines longer than any read-ahead, and a unit split between two reads.
    TempFolder dir;
    const std::string longLine(70001, 'x');
    dir.Write("long.txt", Utf16Le(longLine + "\r\n" + longLine + "ä"));
    EXPECT_EQ(ReadAll(dir.File("long.txt")), (Lines{longLine, longLine + "ä"}));
    dir.Write("long8.txt", longLine + "\r\n" + "y");
    EXPECT_EQ(ReadAll(dir.File("long8.txt")), (Lines{longLine, "y"}));
}

TEST(Utf16File, PositionAndSeekReturnToALine) {
    TempFolder dir;
    for (bool unicode : {true, false}) {
        SCOPED_TRACE(unicode);
        dir.Write("t.txt", unicode ? Utf16Le("eins\r\nzwei\r\ndrei") : "eins\r\nzwei\r\ndrei");
        const uint64_t unit = unicode ? 2 : 1;
        const uint64_t start = unicode ? 2 : 0;
        CUTF16File f;
        ASSERT_TRUE(f.Open(dir.File("t.txt"), CUTF16File::Mode::Read));
        EXPECT_EQ(f.GetPosition(), start);
        std::string line;
        ASSERT_TRUE(f.ReadString(line));
        const uint64_t second = f.GetPosition();
        EXPECT_EQ(second, start + 6 * unit);
        ASSERT_TRUE(f.ReadString(line));
        EXPECT_EQ(line, "zwei");
        ASSERT_TRUE(f.ReadString(line));
        EXPECT_EQ(line, "drei");
        EXPECT_FALSE(f.ReadString(line));

        ASSERT_TRUE(f.SeekAndReset(static_cast<int64_t>(second)));
        EXPECT_EQ(f.GetPosition(), second);
        ASSERT_TRUE(f.ReadString(line));
        EXPECT_EQ(line, "zwei");
        // The start means the first line, not the mark.
        ASSERT_TRUE(f.SeekAndReset(0));
        ASSERT_TRUE(f.ReadString(line));
        EXPECT_EQ(line, "eins");
        EXPECT_FALSE(f.SeekAndReset(1000));
        EXPECT_FALSE(f.SeekAndReset(-1));
        EXPECT_TRUE(f.SeekAndReset(-static_cast<int64_t>(4 * unit), CUTF16File::Origin::End));
        ASSERT_TRUE(f.ReadString(line));
        EXPECT_EQ(line, "drei");
    }
}

TEST(Utf16File, WriteUnicodeRoundTrip) {
    TempFolder dir;
    const std::string path = dir.File("Torvex.html");
    {
        CUTF16File out;
        ASSERT_TRUE(out.Open(path, CUTF16File::Mode::Write));
        EXPECT_TRUE(out.WriteString("<p>Drehmoment-Schwelle</p>\n", true));
        EXPECT_TRUE(out.WriteUnicodeText(u"Übertragung\n"));
        EXPECT_TRUE(out.WriteString(std::u16string_view(u"€ letzte"), true));
        EXPECT_EQ(out.GetPosition(), 2u + 2 * (27 + 12 + 8));
        ASSERT_TRUE(out.Close());
    }
    const std::string bytes = dir.Read("Torvex.html");
    EXPECT_EQ(bytes, Utf16Le("<p>Drehmoment-Schwelle</p>\nÜbertragung\n€ letzte"))
        << "mark exactly once, LF stored as 0A 00";
    EXPECT_EQ(ReadAll(path), (Lines{"<p>Drehmoment-Schwelle</p>", "Übertragung", "€ letzte"}));
    EXPECT_EQ(dir.EntryCount(), 1u) << "no temporary file left";
}

TEST(Utf16File, WriteEightBitHasNoMark) {
    TempFolder dir;
    CUTF16File out;
    ASSERT_TRUE(out.Open(dir.File("a.txt"), CUTF16File::Mode::Write));
    EXPECT_TRUE(out.WriteString("Kühlung\n", false));
    EXPECT_TRUE(out.WriteAnsiText(u"zwei"));
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(dir.Read("a.txt"), "K\xC3\xBChlung\nzwei");
    // UTF-16 after 8-bit text gets no mark in the middle of the file.
    ASSERT_TRUE(out.Open(dir.File("b.txt"), CUTF16File::Mode::Write));
    out.WriteAnsiText(std::string_view("a"));
    out.WriteUnicodeText(u"b");
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(dir.Read("b.txt"), std::string("ab\0", 3));
}

TEST(Utf16File, TargetChangesOnlyAtClose) {
    TempFolder dir;
    dir.Write("r.html", "alt");
    {
        CUTF16File out;
        ASSERT_TRUE(out.Open(dir.File("r.html"), CUTF16File::Mode::Write));
        out.WriteUnicodeText(u"neu");
        EXPECT_EQ(dir.Read("r.html"), "alt") << "readers see the old file while writing";
        out.Discard();
    }
    EXPECT_EQ(dir.Read("r.html"), "alt");
    EXPECT_EQ(dir.EntryCount(), 1u);
    {
        CUTF16File out;
        ASSERT_TRUE(out.Open(dir.File("r.html"), CUTF16File::Mode::Write));
        out.WriteUnicodeText(u"neu");
    } // the destructor closes
    EXPECT_EQ(dir.Read("r.html"), Utf16Le("neu"));
}

TEST(Utf16File, FailedRenameKeepsTargetAndLeavesNothing) {
    TempFolder dir;
    // A non-empty folder where the file should go: the rename cannot replace it.
    ASSERT_EQ(mkdir(dir.File("out.html").c_str(), 0755), 0);
    dir.Write("out.html/keep", "x");
    CUTF16File out;
    ASSERT_TRUE(out.Open(dir.File("out.html"), CUTF16File::Mode::Write));
    EXPECT_TRUE(out.WriteUnicodeText(u"text"));
    EXPECT_FALSE(out.Close());
    EXPECT_NE(out.ErrorNumber(), 0);
    EXPECT_EQ(dir.EntryCount(), 1u) << "temporary file removed";
    EXPECT_EQ(dir.Read("out.html/keep"), "x");
}

TEST(Utf16File, ModeMismatchIsRefused) {
    TempFolder dir;
    dir.Write("r.txt", "abc");
    CUTF16File f;
    ASSERT_TRUE(f.Open(dir.File("r.txt"), CUTF16File::Mode::Read));
    EXPECT_FALSE(f.WriteUnicodeText(u"x"));
    f.Close();
    ASSERT_TRUE(f.Open(dir.File("w.txt"), CUTF16File::Mode::Write));
    std::string line;
    EXPECT_FALSE(f.ReadString(line));
    EXPECT_FALSE(f.SeekAndReset(0));
    f.Discard();
    EXPECT_EQ(dir.Read("r.txt"), "abc");
}

} // namespace
