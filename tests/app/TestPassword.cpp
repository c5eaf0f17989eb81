// "Passwort ändern" and the field limits of the password dialogs.
#include "tests/app/ControllerFixture.h"

#include "crypto/Digests.h"
#include "link/ResultCodes.h"

using ::testing::ElementsAre;

namespace {

using Change = cUserInterface::PasswordChange;

PasswordDigestBytes Digest(const char* password) {
    return PasswordDigest(std::string_view(password));
}

} // namespace

TEST(PasswordFields, TheLimitCountsCharactersNotBytes) {
    EXPECT_EQ(cDialogMain::LimitCharacters("abcdefghij", 8), "abcdefgh");
    EXPECT_EQ(cDialogMain::LimitCharacters("abc", 8), "abc");
    EXPECT_EQ(cDialogMain::LimitCharacters("äöüßäöüßäö", 8), "äöüßäöüß");
    // Only the first eight characters take part in the digest anyway.
    EXPECT_EQ(cDialogMain::PasswordDigestOf("abcdefghXYZ"),
              cDialogMain::PasswordDigestOf("abcdefgh"));
}

TEST(PasswordFields, EveryUtf16UnitCountsAlsoHalfAPair) {
    // U+1F600 is the pair D83D DE00; as the ninth and tenth units only D83D's low byte counts.
    const std::string emoji = "abcdefg\xF0\x9F\x98\x80";
    const std::u16string eight = u"abcdefg\xD83D";
    EXPECT_EQ(cDialogMain::PasswordUnits(emoji), u"abcdefg\xD83D\xDE00");
    EXPECT_EQ(cDialogMain::PasswordDigestOf(emoji), PasswordDigest(std::u16string_view(eight)));
    EXPECT_NE(cDialogMain::PasswordDigestOf(emoji), cDialogMain::PasswordDigestOf("abcdefg"));
    // A field cut after half of the pair hands on that half, not a replacement character.
    const std::string cut = cDialogMain::LimitCharacters(emoji, 8);
    EXPECT_EQ(cDialogMain::PasswordUnits(cut), eight);
    EXPECT_EQ(cDialogMain::PasswordDigestOf(cut), cDialogMain::PasswordDigestOf(emoji));
    EXPECT_EQ(cDialogMain::PasswordText(eight), cut);
    // Whole pairs and other characters travel as plain UTF-8.
    EXPECT_EQ(cDialogMain::PasswordText(u"ä\xD83D\xDE00"), "ä\xF0\x9F\x98\x80");
}

TEST_F(ControllerTest, ChangeWritesTheNewDigestIntoTheMachine) {
    ReadMachine();
    const ParameterBlock editorBefore = controller->Image();
    ui.changes.push_back(Change{"0000", "4321", "4321"});
    ASSERT_TRUE(controller->OnChangePassword());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Passwort wurde geändert"));
    const ParameterBlock machine = MachineImage();
    EXPECT_EQ(machine.PasswordDigest(), Digest("4321"));
    EXPECT_EQ(machine.WriteMark(), 1);
    EXPECT_EQ(controller->BlockDigest(), machine.Digest());
    // The editor's image is not touched by a password change.
    EXPECT_EQ(controller->Image(), editorBefore);
}

TEST_F(ControllerTest, ChangeRefusalsSendNothing) {
    struct Case {
        const char* what;
        std::optional<Change> entry; // nullopt: dialog cancelled
        std::vector<std::string> messages;
        bool forgetsPassword;
    };
    const std::vector<Case> cases = {
        {"cancelled", std::nullopt, {"Passwort wurde nicht geändert"}, true},
        {"wrong old password", Change{"1111", "4321", "4321"}, {"Ungültiges Passwort"}, false},
        // The old password is checked first: a wrong one is all the user hears about.
        {"wrong old password and repetition",
         Change{"1111", "4321", "9999"},
         {"Ungültiges Passwort"},
         false},
        {"repetition differs",
         Change{"0000", "4321", "4322"},
         {"Passwort wurde nicht geändert"},
         true},
        {"repetition differs in case",
         Change{"0000", "abcd", "ABCD"},
         {"Passwort wurde nicht geändert"},
         true},
        {"three characters",
         Change{"0000", "123", "123"},
         {"geben Sie mindestens 4 Zeichen ein"},
         false},
        {"empty", Change{"0000", "", ""}, {"geben Sie mindestens 4 Zeichen ein"}, false},
        // The new-password field holds eight characters, the repetition field any number: a
        // longer new password never equals its repetition.
        {"nine characters",
         Change{"0000", "123456789", "123456789"},
         {"Passwort wurde nicht geändert"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        VerifyPassword();
        ControllerState expected = ControllerState::Of(*controller);
        if (c.forgetsPassword)
            expected.passwordVerified = false;
        sim->ResetCounters();
        ui.changes.push_back(c.entry);
        EXPECT_FALSE(controller->OnChangePassword());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        EXPECT_EQ(sim->Counters().writeCommands, 0u);
        EXPECT_EQ(MachineImage().PasswordDigest(), Digest("0000"));
        EXPECT_EQ(ControllerState::Of(*controller), expected);
    }
}

TEST_F(ControllerTest, ChangeAcceptsFourCharactersAndALongOldPassword) {
    // The old-password field keeps the first eight characters of what was typed.
    EditMachine([](ParameterBlock& b) { b.SetPasswordDigest(Digest("abcdefgh")); });
    ui.changes.push_back(Change{"abcdefghIJK", "wxyz", "wxyz"});
    ASSERT_TRUE(controller->OnChangePassword()) << ::testing::PrintToString(ui.TakeMessages());
    EXPECT_EQ(MachineImage().PasswordDigest(), Digest("wxyz"));
}

TEST_F(ControllerTest, ChangeWorksBeforeAnythingElseConnected) {
    ASSERT_EQ(controller->CurrentLink(), nullptr);
    ui.changes.push_back(Change{"0000", "5678", "5678"});
    ASSERT_TRUE(controller->OnChangePassword());
    EXPECT_EQ(MachineImage().PasswordDigest(), Digest("5678"));
    // The editor follows no machine yet: its digest stays empty.
    EXPECT_EQ(controller->BlockDigest(), ParameterBlock::DigestWords{});
}

TEST_F(ControllerTest, ChangeOnAnotherMachineDoesNotMakeItLookLikeTheOneRead) {
    ReadMachine();
    const auto digestBefore = controller->BlockDigest();
    SimOptions o = Options();
    ParameterBlock other;
    other.bytes = SimMachine::DefaultImage();
    other.SetSerialNr("SIM0000002");
    o.image = other.bytes;
    StartMachine(o);
    ui.changes.push_back(Change{"0000", "5678", "5678"});
    ASSERT_TRUE(controller->OnChangePassword());
    EXPECT_EQ(controller->BlockDigest(), digestBefore);
    ui.messages.clear();
    // So the edited image of the first machine is still refused here.
    EXPECT_FALSE(controller->OnWriteToMachine());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("ungültige Zielmaschine"));
}

TEST_F(ControllerTest, ChangeWithoutAnAdapterDoesNothing) {
    devicePath.clear(); // the port list stays empty
    controller->DiscoverAdapters();
    EXPECT_FALSE(controller->OnChangePassword());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(ui.changes.empty());
}

TEST_F(ControllerTest, ChangeFaultsAreReported) {
    struct Case {
        SimFault fault;
        unsigned skip;
        std::optional<uint32_t> address;
        std::vector<std::string> messages;
        bool written;
    } cases[] = {
        {SimFault::Silent, 0, {}, {"Verbindung fehlgeschlagen", "Timeout"}, false},
        {SimFault::BadChecksum, 1, cQVX_18::kBlockAreaAddress, {"Checksum-Error"}, false},
        {SimFault::LoseBytes, 1, cQVX_18::kBlockAreaAddress, {"Timeout"}, false},
        {SimFault::RefuseCommand,
         1,
         cQVX_18::kBlockAreaAddress,
         {"Die Maschine hat den Befehl abgelehnt."},
         false},
        {SimFault::RefuseData, 0, {}, {"Passwort wurde nicht geändert"}, true},
        {SimFault::HangupInWrite, 0, {}, {"Passwort wurde nicht geändert"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        StartMachine(Options());
        VerifyPassword();
        ControllerState expected = ControllerState::Of(*controller);
        expected.passwordVerified = !c.written; // a failed write of the digest forgets it
        sim->SetFault(c.fault, c.skip, c.address);
        ui.changes.push_back(Change{"0000", "4321", "4321"});
        EXPECT_FALSE(controller->OnChangePassword());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        EXPECT_EQ(ControllerState::Of(*controller), expected);
    }
}
