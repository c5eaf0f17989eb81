#include "base/TextCodec.h"
#include "lang/Language.h"
#include "report/Printer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string ReadUtf16File(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    std::string raw = s.str();
    if (raw.size() < 2 || raw.substr(0, 2) != std::string("\xFF\xFE", 2))
        return {};
    std::u16string u((raw.size() - 2) / 2, u'\0');
    memcpy(u.data(), raw.data() + 2, u.size() * 2);
    return Utf16ToUtf8(u);
}

class ShippedTemplate : public ::testing::TestWithParam<const char*> {};

// Every placeholder of a shipped template is one the generator knows, for any image:
// no "###" may be left in the report.
TEST_P(ShippedTemplate, LeavesNoPlaceholderInTheReport) {
    const std::string templatePath = std::string(KELVANE_BIN_DIR) + "/templates/" + GetParam();
    char dir[] = "/tmp/kelvane-shipped-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string out = std::string(dir) + "/Torvex.html";

    ParameterBlock image = ParameterBlock::Default();
    image.SetMachineType("TVX18-4200");
    for (size_t i = 0; i < 10; ++i)
        image.Step(i).SetErrorMask(kErrAllCriteria);
    TransmissionEntry gear{1, "1:18,2", 18.2, 0, 0};
    std::array<TransmissionEntry, 21> heads{};
    for (bool switchOver : {false, true}) {
        image.SetParameterSet12(switchOver);
        cPrinter p;
        ASSERT_EQ(p.OpenFiles(templatePath, out), 0) << templatePath;
        ASSERT_EQ(p.Generate(18, &image, "Torvex Kelvane  Version 4.0.0.8", &gear, heads, 5), 0);
        ASSERT_TRUE(p.CloseFiles());
        const std::string html = ReadUtf16File(out);
        ASSERT_FALSE(html.empty());
        EXPECT_EQ(html.find("###"), std::string::npos) << html.substr(html.find("###"), 80);
        // Every set's step rows come under their column headings.
        size_t headings = 0;
        for (size_t at = 0; (at = html.find("<th>Programmschritt</th>", at)) != html.npos; ++at)
            ++headings;
        EXPECT_EQ(headings, 2u);
        if (std::string(GetParam()) == "Torvex.html") {
            EXPECT_NE(html.find("programSteps2.jpg"), std::string::npos);
        }
    }
    unlink(out.c_str());
    rmdir(dir);
}

INSTANTIATE_TEST_SUITE_P(Templates, ShippedTemplate,
                         ::testing::Values("Torvex.html", "Kompakt.html"));

// The main template uses every placeholder the generator knows.
TEST(ShippedTemplateTorvex, UsesEveryPlaceholder) {
    std::ifstream f(std::string(KELVANE_SOURCE_DIR) + "/report/templates/Torvex.html");
    std::stringstream s;
    s << f.rdbuf();
    const std::string text = s.str();
    int used = 0;
    for (size_t pos = 0; (pos = text.find("###", pos)) != std::string::npos;) {
        size_t end = text.find("###", pos + 3);
        ASSERT_NE(end, std::string::npos);
        const std::string token = text.substr(pos, end + 3 - pos);
        EXPECT_NE(cPrinter::LookupPlaceholder(Utf8ToUtf16(token)), 0) << token;
        pos = end + 3;
        ++used;
    }
    for (int n = 1; n <= 79; ++n) {
        if (n == 59)
            continue;
        bool found = false;
        for (size_t pos = 0; !found && (pos = text.find("###", pos)) != std::string::npos;) {
            size_t end = text.find("###", pos + 3);
            found = cPrinter::LookupPlaceholder(Utf8ToUtf16(text.substr(pos, end + 3 - pos))) == n;
            pos = end + 3;
        }
        EXPECT_TRUE(found) << "placeholder " << n << " unused";
    }
    EXPECT_GT(used, 78);
}

} // namespace
