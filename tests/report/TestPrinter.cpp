#include "base/TextCodec.h"
#include "report/Printer.h"
#include "tests/BadInput.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

class PrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kelvane-printer-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        image_ = ParameterBlock::Default();
        transmission_.id = 1;
        transmission_.name = "1:18,2";
        transmission_.ratio = 18.2;
        angleHeads_[0].name = "ohne";
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // Writes the template (UTF-16LE with its mark unless eightBit) and returns its path.
    std::string Template(const std::string& utf8, bool eightBit = false) {
        std::string path = dir_ + "/t.html";
        std::ofstream f(path, std::ios::binary);
        if (eightBit) {
            f << utf8;
        } else {
            std::u16string u = Utf8ToUtf16(utf8);
            f.write("\xFF\xFE", 2);
            f.write(reinterpret_cast<const char*>(u.data()), u.size() * 2);
        }
        return path;
    }

    std::string ReadOutputRaw() {
        std::ifstream f(Out(), std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    std::string ReadOutput() {
        std::string raw = ReadOutputRaw();
        if (raw.size() < 2)
            return raw;
        EXPECT_EQ(raw.substr(0, 2), std::string("\xFF\xFE", 2));
        std::u16string u((raw.size() - 2) / 2, u'\0');
        memcpy(u.data(), raw.data() + 2, u.size() * 2);
        return Utf16ToUtf8(u);
    }

    std::string Out() const { return dir_ + "/Torvex.html"; }

    int Run(const std::string& templateText, int kind = 18, bool eightBit = false) {
        cPrinter p;
        std::string message;
        int rc = p.OpenFiles(Template(templateText, eightBit), Out(), &message);
        if (rc != 0)
            return rc;
        rc = p.Generate(kind, &image_, "Torvex Kelvane  Version 4.0.0.8", &transmission_,
                        angleHeads_, 1234);
        p.CloseFiles();
        return rc;
    }

    std::string Expand(const std::string& templateText, int kind = 18) {
        EXPECT_EQ(Run(templateText, kind), 0);
        return ReadOutput();
    }

    std::string dir_;
    ParameterBlock image_;
    TransmissionEntry transmission_;
    std::array<TransmissionEntry, 21> angleHeads_{};
};

TEST_F(PrinterTest, LiteralsTokensAndLineBreaks) {
    image_.Step(0).SetSpeed(2000);
    image_.Step(0).SetControlled(1);
    struct Case {
        const char* tmpl;
        const char* out;
    } cases[] = {
        // Text around a value, one line break after the line.
        {"a###SD_SPEED###b\n", "a92b\n"},
        // A line ending in a token gets no line break.
        {"a###SD_SPEED###\nx\n", "a92x\n"},
        // An empty line stays one line break (CR LF files); LF LF is one line end.
        {"a\r\n\r\nb\r\n", "a\n\nb\n"},
        {"a\n\nb\n", "a\nb\n"},
        // A '#' in HTML starts an unknown token: written through, then a line break.
        {"<td bgcolor=\"#ff0000\">x</td>\n", "<td bgcolor=\"#ff0000\">x</td>\n"},
        {"<i>#1</i> ok\n", "<i>#1</i> ok\n"},
        // Unknown placeholders are written as they stand, with a line break.
        {"###NO_SUCH###rest\n", "###NO_SUCH###\nrest\n"},
        // Letter case matters for placeholder names.
        {"###sd_speed###\n", "###sd_speed###\n"},
        // The last line without a line end.
        {"###HD_SERIALNR_LABEL###", "Seriennummer"},
        {"###TITLE_LABEL###", "Torvex Kelvane  Version 4.0.0.8"},
        // A closing marker without its block does nothing.
        {"###STEP_END###x\n###ERROR_COND_END###y\n", "x\ny\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Expand(c.tmpl), c.out) << c.tmpl;
}

TEST_F(PrinterTest, StepListRepeatsPerSetAndStep) {
    // Set 1: chain 0 -> 1 -> last; set 2: its first step is last.
    image_.Step(1).SetNextStep(kNextStepLast);
    image_.Step(5).SetNextStep(kNextStepLast);
    const std::string tmpl = "###STEP_LIST###\n"
                             "S###SD_PRARMETETERSET_LABEL### ###SD_STEPS_GRAPHIC###.\n"
                             "###STEP###\n"
                             "[###SD_STEPNR###]\n"
                             "###STEP_END###\n"
                             "###STEP_LIST_END###\n"
                             "end\n";
    EXPECT_EQ(Expand(tmpl), "SParametersatz 1 programSteps1.jpg.\n[1]\n[2]\n"
                            "SParametersatz 2 programSteps2.jpg.\n[1]\nend\n");
}

TEST_F(PrinterTest, SwitchOverSecondPassStartsAtStepTwoNumberedOne) {
    image_.SetParameterSet12(true);
    image_.Step(4).SetNextStep(kNextStepLast);
    image_.Step(7).SetType(1);
    // Lines that end in a placeholder get no line break: "|" keeps them apart here.
    const std::string tmpl =
        "###STEP_LIST###\n###SD_PRARMETETERSET_LABEL###|\n###STEP###\n"
        "###SD_STEPNR###:###SD_TYPE###|\n###STEP_END###\n###STEP_LIST_END###\n";
    const std::string out = Expand(tmpl);
    EXPECT_EQ(out, "Parametersatz 1+2|\n1:Rechtslauf|\n2:Rechtslauf|\n3:Rechtslauf|\n"
                   "4:Rechtslauf|\n5:Rechtslauf|\nUmschaltung|\n1:Linkslauf|\n1:Rechtslauf|\n"
                   "1:Rechtslauf|\n");
}

TEST_F(PrinterTest, ErrorCriteriaBlocks) {
    const std::string tmpl = "###STEP###\n"
                             "###ERROR_COND_LIST###\n"
                             "<ul>\n"
                             "###ERROR_COND###\n"
                             "<li>###SD_ERROR_COND### ###SD_ERROR_VALUE### "
                             "###SD_ERROR_UNIT###</li>\n"
                             "###ERROR_COND_END###\n"
                             "</ul>\n"
                             "###ERROR_COND_LIST_END###\n"
                             "###STEP_END###\n";
    image_.Step(0).SetNextStep(kNextStepLast);
    struct Case {
        uint16_t mask;
        const char* out;
    } cases[] = {
        {0, ""},
        {kErrTimeMin, ""}, // not part of the report
        {kErrCurrentMax | kErrClutch,
         "<ul>\n<li>Kupplung ausgelöst  </li>\n<li>Strom &gt; 1.5 A</li>\n</ul>\n"},
        // The time value carries its unit and the unit placeholder adds it again.
        {kErrTimeMax, "<ul>\n<li>Zeit &gt; 300 ms ms</li>\n</ul>\n"},
    };
    image_.Step(0).SetCurrent(150);
    image_.Step(0).SetTime(300);
    for (const Case& c : cases) {
        image_.Step(0).SetErrorMask(c.mask);
        EXPECT_EQ(Expand(tmpl), c.out) << c.mask; // criterion texts are escaped: "&gt;"
    }
}

TEST_F(PrinterTest, ValuesOfHeaderAndService) {
    image_.SetToolId("<b>A&B</b>");
    image_.SetCalDate(1440);
    image_.SetTorque(1250);
    image_.SetRestartLock(25);
    image_.SetServiceResetCounter(1000);
    EXPECT_EQ(Expand("###HD_TOOL_ID###|###SVD_CAL_DATE###|###SVD_TORQUE###|"
                     "###HD_RESTART_LOCK###|###SVD_FASTENING_COUNTER###|"
                     "###SVD_FASTENING_COUNTER_DIFF###|###HD_ANGLEHEAD###|###HD_TRANSMISSION###"),
              "&lt;b&gt;A&amp;B&lt;/b&gt;|02.01.2000  00:00|12.5 Nm|2.5 Sekunden|1234|234|ohne|"
              "1:18,2");
    image_.SetCalDate(0);
    EXPECT_EQ(Expand("[###SVD_CAL_DATE###]"), "[]\n");

    // Each switch in its own sense; numbers with the report's decimals.
    image_.SetRlLock(2);
    image_.SetRlLockPermanent(0);
    image_.SetBuzzerLock(1);
    image_.SetBlinkNio(0);
    image_.SetUserTransmission(150);
    image_.SetMaxTorque(4550);
    EXPECT_EQ(Expand("###HD_RL_LOCK###|###HD_RL_LOCK_PERMANENT###|###HD_BUZZER_LOCK###|"
                     "###HD_BLINK_NIO###|###HD_USER_TRANSMISSION###|###HD_MAX_TORQUE###|"),
              "Ja|Ja|Aus|Nein|1.50|45.5|\n");

    // Machine text: no raw control character reaches the report.
    const char hostile[] = {'S', '\x1b', '[', '2', 'J', '\x07', '\x85', '\0'};
    image_.SetText(ParameterBlock::kOffSerialNr, ParameterBlock::kLenSerialNr,
                   Latin1ToUtf8(hostile));
    EXPECT_EQ(Expand("###HD_SERIALNR###|"), "S\\x1B[2J\\x07\\x85|\n");
}

TEST_F(PrinterTest, NextConditionTextsAndSpeedFormulas) {
    StepRecord s = image_.Step(0);
    s.SetNextCond(kCondAngle);
    s.SetAngle(82);
    EXPECT_EQ(Expand("###SD_NEXT_COND###=###SD_NEXT_VALUE### ###SD_NEXT_UNIT###"),
              "Drehwinkel erreicht=90 Grad");
    s.SetNextCond(kCondTime | kCondWaitRestart);
    EXPECT_EQ(Expand("[###SD_NEXT_COND###]"), "[ ]\n");
    s.SetControlled(0);
    s.SetSpeed(512);
    EXPECT_EQ(Expand("###SD_SPEED### ###SD_SPEED_UNIT### [###SD_CH_CONTROLLED###]"), "50 % []\n");
    EXPECT_EQ(Expand("###SD_SPEED###", 14), "200"); // 512 * 100 / 255, cut
    // A catalog ratio of 0 must not divide into nonsense.
    transmission_.ratio = 0;
    s.SetControlled(1);
    EXPECT_EQ(Expand("###SD_SPEED###"), "0");
}

TEST_F(PrinterTest, UnknownMachineKindWritesOnlyLiterals) {
    EXPECT_EQ(Expand("a###HD_SERIALNR_LABEL###b###SD_SPEED###c\n", 0), "abc\n");
}

TEST_F(PrinterTest, EncodingsAndEmptyTemplate) {
    EXPECT_EQ(Run("x ###SD_TYPE_LABEL###\r\nÄ\r\n", 18, true), 0);
    EXPECT_EQ(ReadOutput(), "x TypÄ\n"); // the first line ends in a placeholder
    EXPECT_EQ(Run("", 18, true), 0);
    EXPECT_EQ(ReadOutputRaw(), "");
}

TEST_F(PrinterTest, OpenFailuresAndRunawayKeepThePreviousReport) {
    ASSERT_EQ(Run("first\n"), 0);
    const std::string before = ReadOutputRaw();

    cPrinter p;
    std::string message;
    EXPECT_EQ(p.OpenFiles(dir_ + "/missing.html", Out(), &message), cPrinter::kOpenFailed);
    EXPECT_EQ(message, "ungültige Druckvorlage");
    EXPECT_EQ(p.OpenFiles(Template("x"), dir_ + "/no/such/dir/out.html", &message),
              cPrinter::kOpenFailed);
    EXPECT_EQ(message, "ungültige HTML-Ausgabedatei");

    // Blocks nested against each other: with the switch-over bit every set pass puts the
    // step index back to 2, so the outer step block would repeat for ever.
    image_.SetParameterSet12(true);
    EXPECT_EQ(Run("###STEP###\n###STEP_LIST###\nx\n###STEP_LIST_END###\n###STEP_END###\n"),
              cPrinter::kRunaway);
    EXPECT_EQ(ReadOutputRaw(), before);
}

TEST_F(PrinterTest, BadTemplatesAreRefusedAtOnceAndKeepThePreviousReport) {
    ASSERT_EQ(Run("first\n"), 0);
    const std::string before = ReadOutputRaw();
    const auto inputs = MakeBadInputs(dir_, "bad", cPrinter::kMaxTemplateSize + 1);
    ASSERT_FALSE(inputs.empty());
    for (const BadInput& in : inputs) {
        SCOPED_TRACE(in.what);
        cPrinter p;
        std::string message;
        if (in.what == "empty file") {
            // An empty template makes an empty report.
            ASSERT_EQ(p.OpenFiles(in.path, dir_ + "/empty-out.html", &message), 0);
            EXPECT_EQ(p.Generate(18, &image_, "", &transmission_, angleHeads_, 0), 0);
            EXPECT_TRUE(p.CloseFiles());
            continue;
        }
        EXPECT_EQ(p.OpenFiles(in.path, Out(), &message), cPrinter::kOpenFailed);
        EXPECT_EQ(message, "ungültige Druckvorlage");
    }
    EXPECT_EQ(ReadOutputRaw(), before);
}

TEST_F(PrinterTest, TheReportItselfIsNoTemplate) {
    ASSERT_EQ(Run("first\n"), 0);
    const std::string before = ReadOutputRaw();
    // By its own name, and through a link to it.
    ASSERT_EQ(::symlink(Out().c_str(), (dir_ + "/link.html").c_str()), 0);
    for (const std::string& tmpl : {Out(), dir_ + "/link.html", dir_ + "/./Torvex.html"}) {
        cPrinter p;
        std::string message;
        EXPECT_EQ(p.OpenFiles(tmpl, Out(), &message), cPrinter::kOpenFailed) << tmpl;
        EXPECT_EQ(message, "ungültige Druckvorlage");
    }
    EXPECT_EQ(ReadOutputRaw(), before);
}

TEST_F(PrinterTest, MemoryRunWritesWhatTheFileRunWrites) {
    image_.Step(0).SetNextStep(kNextStepLast);
    const std::string tmpl = "###STEP_LIST###\n[###SD_STEPNR###]\n###STEP_LIST_END###\nend\n";
    const std::string onDisk = Expand(tmpl);
    const std::string raw = ReadOutputRaw();
    std::string bytes = "\xFF\xFE";
    for (char16_t u : Utf8ToUtf16(tmpl)) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    cPrinter p;
    ASSERT_EQ(p.OpenMemory(bytes), 0);
    ASSERT_EQ(p.Generate(18, &image_, "Torvex Kelvane  Version 4.0.0.8", &transmission_,
                         angleHeads_, 1234),
              0);
    EXPECT_TRUE(p.CloseFiles());
    EXPECT_EQ(p.MemoryOutput(), raw);
    EXPECT_EQ(onDisk, "[1]\n[1]\nend\n");
}

TEST_F(PrinterTest, MissingReferencesWriteNothing) {
    cPrinter p;
    ASSERT_EQ(p.OpenFiles(Template("x\n"), Out()), 0);
    EXPECT_EQ(p.Generate(18, nullptr, "", &transmission_, angleHeads_, 0),
              cPrinter::kMissingReference);
}

TEST(TemplatePath, BareNameLivesInTemplatesFolder) {
    EXPECT_EQ(ResolveTemplatePath("Torvex.html", "/d/TorvexV4"),
              "/d/TorvexV4/templates/Torvex.html");
    EXPECT_EQ(ResolveTemplatePath("/x/y.html", "/d"), "/x/y.html");
    EXPECT_EQ(ResolveTemplatePath("sub/y.html", "/d"), "sub/y.html");
}

TEST(LoopStack, PushPopOrderAndDeepStackFreesWithoutRecursion) {
    cLoopStack s;
    uint64_t v = 0;
    EXPECT_FALSE(s.Pop(v));
    s.Push(1);
    s.Push(2);
    ASSERT_TRUE(s.Pop(v));
    EXPECT_EQ(v, 2u);
    {
        cLoopStack deep;
        for (int i = 0; i < 1000000; ++i)
            deep.Push(i);
    }
}

} // namespace
