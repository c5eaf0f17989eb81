#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "crypto/SHA1.h"
#include "model/ParameterBlock.h"

namespace {

std::string Bytes(const ParameterBlock& b, size_t offset, size_t n) {
    return std::string(reinterpret_cast<const char*>(b.bytes.data() + offset), n);
}

// Offsets whose byte differs between a and b.
std::set<size_t> Changed(const ParameterBlock& a, const ParameterBlock& b) {
    std::set<size_t> out;
    for (size_t i = 0; i < ParameterBlock::kSize; ++i)
        if (a.bytes[i] != b.bytes[i])
            out.insert(i);
    return out;
}

std::set<size_t> Range(size_t from, size_t count) {
    std::set<size_t> s;
    for (size_t i = from; i < from + count; ++i)
        s.insert(i);
    return s;
}

ParameterBlock Pattern(uint8_t seed) {
    ParameterBlock b;
    for (size_t i = 0; i < b.bytes.size(); ++i)
        b.bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

} // namespace

TEST(ParameterBlock, FreshImage) {
    ParameterBlock b = ParameterBlock::Default();
    EXPECT_EQ(b.MachineType(), std::string(16, ' '));
    EXPECT_EQ(b.ToolId(), std::string(15, ' '));

    const uint8_t chain[10] = {1, 2, 3, 4, 0xFF, 6, 7, 8, 9, 0xFF};
    for (size_t i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        StepRecordView s = std::as_const(b).Step(i);
        EXPECT_EQ(s.NextStep(), chain[i]);
        EXPECT_EQ(s.NextCond(), i < 5 ? kCondClutch : kCondAngle);
        EXPECT_EQ(s.Controlled(), 1);
        EXPECT_EQ(s.Threshold(), 101);
        EXPECT_EQ(s.Ramp(), 0);
    }

    // Nothing else is set: clearing the fields above leaves an image of zeros.
    ParameterBlock z = b;
    z.SetText(ParameterBlock::kOffMachineType, 16, "");
    z.SetText(ParameterBlock::kOffToolId, 15, "");
    for (size_t i = 0; i < 10; ++i) {
        StepRecord s = z.Step(i);
        s.SetNextStep(0);
        s.SetNextCond(0);
        s.SetControlled(0);
        s.SetThreshold(0);
    }
    EXPECT_EQ(z, ParameterBlock());
}

TEST(ParameterBlock, TextStoreRules) {
    auto repeat = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i)
            r += s;
        return r;
    };
    struct Case {
        std::string text;
        std::string stored; // 15 bytes of toolId
        std::string shown;
    } cases[] = {
        {"AB", std::string("AB") + std::string(13, '\0'), "AB"},
        {"ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},
        {"", std::string(15, '\0'), ""},
        // Latin-1: one byte per character, shown again as the same UTF-8 text.
        {"Müller Straße",
         std::string("M\xFCller Stra\xDF"
                     "e") +
             std::string(2, '\0'),
         "Müller Straße"},
        // Beyond Latin-1 there is no byte for it.
        {"5€ Ω", std::string("5? ?") + std::string(11, '\0'), "5? ?"},
        // A broken UTF-8 sequence is one unknown character per byte, never a lost neighbour.
        {"a\xC3"
         "b",
         std::string("a?b") + std::string(12, '\0'), "a?b"},
        // An overlong form is broken too: it never smuggles a byte 0 that cuts the field.
        {"a\xE0\x80\x80"
         "b",
         std::string("a???b") + std::string(10, '\0'), "a???b"},
        // Fifteen characters, not fifteen UTF-8 bytes.
        {repeat("ä", 18), std::string(15, '\xE4'), repeat("ä", 15)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ParameterBlock b = ParameterBlock::Default();
        b.SetToolId(c.text);
        EXPECT_EQ(Bytes(b, ParameterBlock::kOffToolId, 15), c.stored);
        EXPECT_EQ(b.ToolId(), c.shown);
        // The neighbours are untouched.
        EXPECT_EQ(b.bytes[45], 0);
        EXPECT_EQ(b.bytes[61], 0);
    }
}

TEST(ParameterBlock, TextShownUpToFirstZeroAndEveryByteRoundTrips) {
    ParameterBlock b;
    std::memcpy(b.bytes.data() + ParameterBlock::kOffCalName, "AB\0CD\0\0\0", 8);
    EXPECT_EQ(b.CalName(), "AB");

    // Display and store back keep every non-zero byte as it was.
    for (int v = 1; v < 256; ++v) {
        ParameterBlock p;
        p.bytes[ParameterBlock::kOffPlace] = static_cast<uint8_t>(v);
        ParameterBlock q;
        q.SetPlace(p.Place());
        ASSERT_EQ(q, p) << "byte " << v;
    }
}

TEST(ParameterBlock, FieldsAtTheirOffsets) {
    struct Case {
        const char* name;
        std::function<void(ParameterBlock&)> set;
        std::function<uint32_t(const ParameterBlock&)> get;
        size_t offset;
        size_t width;
    } cases[] = {
        {"machineFlags", [](auto& b) { b.SetMachineFlags(0xA5); },
         [](auto& b) { return b.MachineFlags(); }, 1, 1},
        {"writeMark", [](auto& b) { b.SetWriteMark(0xA5); }, [](auto& b) { return b.WriteMark(); },
         2, 1},
        {"calDate", [](auto& b) { b.SetCalDate(0xA1B2C3D4); }, [](auto& b) { return b.CalDate(); },
         75, 4},
        {"torque", [](auto& b) { b.SetTorque(0xA1B2); }, [](auto& b) { return b.Torque(); }, 103,
         2},
        {"maxTorque", [](auto& b) { b.SetMaxTorque(0xA1B2); },
         [](auto& b) { return b.MaxTorque(); }, 105, 2},
        {"variantCode", [](auto& b) { b.SetVariantCode(0xA5); },
         [](auto& b) { return b.VariantCode(); }, 107, 1},
        {"restartLock", [](auto& b) { b.SetRestartLock(0xA5); },
         [](auto& b) { return b.RestartLock(); }, 108, 1},
        {"restartLockNio", [](auto& b) { b.SetRestartLockNio(0xA5); },
         [](auto& b) { return b.RestartLockNio(); }, 109, 1},
        {"transmission", [](auto& b) { b.SetTransmission(0xA5); },
         [](auto& b) { return b.Transmission(); }, 110, 1},
        {"angleHead", [](auto& b) { b.SetAngleHead(0xA5); }, [](auto& b) { return b.AngleHead(); },
         111, 1},
        {"rlLock", [](auto& b) { b.SetRlLock(0xA5); }, [](auto& b) { return b.RlLock(); }, 414, 1},
        {"rlLockPermanent", [](auto& b) { b.SetRlLockPermanent(0xA5); },
         [](auto& b) { return b.RlLockPermanent(); }, 415, 1},
        {"buzzerLock", [](auto& b) { b.SetBuzzerLock(0xA5); },
         [](auto& b) { return b.BuzzerLock(); }, 416, 1},
        {"batteryDisplay", [](auto& b) { b.SetBatteryDisplay(0xA5); },
         [](auto& b) { return b.BatteryDisplay(); }, 417, 1},
        {"batteryThreshold", [](auto& b) { b.SetBatteryThreshold(0xA5); },
         [](auto& b) { return b.BatteryThreshold(); }, 418, 1},
        {"userTransmission", [](auto& b) { b.SetUserTransmission(0xA1B2); },
         [](auto& b) { return b.UserTransmission(); }, 419, 2},
        {"modeFlags", [](auto& b) { b.SetModeFlags(0xA5); }, [](auto& b) { return b.ModeFlags(); },
         421, 1},
        {"blinkNio", [](auto& b) { b.SetBlinkNio(0xA5); }, [](auto& b) { return b.BlinkNio(); },
         422, 1},
        {"serviceResetCounter", [](auto& b) { b.SetServiceResetCounter(0xA1B2C3D4); },
         [](auto& b) { return b.ServiceResetCounter(); }, 428, 4},
        {"serviceDueCounter", [](auto& b) { b.SetServiceDueCounter(0xA1B2C3D4); },
         [](auto& b) { return b.ServiceDueCounter(); }, 432, 4},
        {"clutchLimitFlags", [](auto& b) { b.SetClutchLimitFlags(0xA5); },
         [](auto& b) { return b.ClutchLimitFlags(); }, 436, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParameterBlock b;
        c.set(b);
        EXPECT_EQ(Changed(b, ParameterBlock()), Range(c.offset, c.width));
        // Little-endian: the lowest byte first.
        uint32_t v = c.get(b);
        EXPECT_EQ(b.bytes[c.offset], v & 0xFF);
        EXPECT_EQ(b.bytes[c.offset + c.width - 1], (v >> (8 * (c.width - 1))) & 0xFF);
    }

    struct TextCase {
        const char* name;
        std::function<void(ParameterBlock&, std::string_view)> set;
        size_t offset;
        size_t width;
    } texts[] = {
        {"machineType", [](auto& b, auto t) { b.SetMachineType(t); }, 3, 16},
        {"elAssembly", [](auto& b, auto t) { b.SetElAssembly(t); }, 19, 12},
        {"serialNr", [](auto& b, auto t) { b.SetSerialNr(t); }, 31, 15},
        {"toolId", [](auto& b, auto t) { b.SetToolId(t); }, 46, 15},
        {"swVersion", [](auto& b, auto t) { b.SetSwVersion(t); }, 61, 10},
        {"calName", [](auto& b, auto t) { b.SetCalName(t); }, 79, 8},
        {"place", [](auto& b, auto t) { b.SetPlace(t); }, 87, 8},
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t.name);
        ParameterBlock b;
        t.set(b, std::string(40, 'x'));
        EXPECT_EQ(Changed(b, ParameterBlock()), Range(t.offset, t.width));
    }

    ParameterBlock b;
    b.SetPasswordDigest({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(Changed(b, ParameterBlock()), Range(95, 8));
}

TEST(ParameterBlock, StepFieldsAtTheirOffsets) {
    struct Case {
        const char* name;
        std::function<void(StepRecord&)> set;
        size_t offset;
        size_t width;
    } cases[] = {
        {"speed", [](auto& s) { s.SetSpeed(0xFFFF); }, 0, 2},
        {"angle", [](auto& s) { s.SetAngle(0xFFFFFFFF); }, 2, 4},
        {"angleMin", [](auto& s) { s.SetAngleMin(0xFFFFFFFF); }, 6, 4},
        {"time", [](auto& s) { s.SetTime(0xFFFF); }, 10, 2},
        {"threshold", [](auto& s) { s.SetThreshold(0xFFFF); }, 12, 2},
        {"currentMin", [](auto& s) { s.SetCurrentMin(0xFFFF); }, 16, 2},
        {"current", [](auto& s) { s.SetCurrent(0xFFFF); }, 18, 2},
        {"ramp", [](auto& s) { s.SetRamp(0xFF); }, 20, 1},
        {"timeMin", [](auto& s) { s.SetTimeMin(0xFFFF); }, 21, 2},
        {"type", [](auto& s) { s.SetType(0xFF); }, 23, 1},
        {"controlled", [](auto& s) { s.SetControlled(0xFF); }, 24, 1},
        {"nextCond", [](auto& s) { s.SetNextCond(0xFF); }, 25, 1},
        {"errorMask", [](auto& s) { s.SetErrorMask(0xFFFF); }, 26, 2},
        {"nextStep", [](auto& s) { s.SetNextStep(0xFF); }, 28, 1},
    };
    for (size_t step : {size_t{0}, size_t{4}, size_t{5}, size_t{9}}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " of step " + std::to_string(step));
            ParameterBlock b;
            StepRecord s = b.Step(step);
            c.set(s);
            EXPECT_EQ(Changed(b, ParameterBlock()), Range(124 + 29 * step + c.offset, c.width));
        }
    }
    ParameterBlock b;
    EXPECT_THROW(b.Step(10), std::out_of_range);

    // The view reads what the writable record wrote, in place.
    StepRecord s = b.Step(7);
    s.SetTimeMin(0x1234);
    s.SetAngle(123456789);
    EXPECT_EQ(std::as_const(b).Step(7).TimeMin(), 0x1234);
    EXPECT_EQ(std::as_const(b).Step(7).Angle(), 123456789u);
}

TEST(ParameterBlock, StepBits) {
    ParameterBlock b;
    StepRecord s = b.Step(2);
    s.SetNextCond(kCondTime | kCondWaitRestart);
    s.SetCondition(kCondThreshold);
    EXPECT_EQ(s.NextCond(), kCondThreshold | kCondWaitRestart);
    EXPECT_TRUE(s.WaitRestart());
    s.SetNextStep(3);
    s.SetLast();
    EXPECT_TRUE(s.IsLast());
    EXPECT_FALSE(s.WaitRestart());
    EXPECT_EQ(s.Condition(), kCondThreshold);

    s.SetError(kErrTimeMin, true);
    s.SetError(kErrCurrentMin, true);
    s.SetError(kErrTimeMin, false);
    EXPECT_EQ(s.ErrorMask(), kErrCurrentMin);
}

TEST(ParameterBlock, FlagBits) {
    ParameterBlock b;
    b.SetModeFlags(0x42);
    b.SetExpertMode(true);
    b.SetParameterSet12(true);
    EXPECT_EQ(b.ModeFlags(), 0xC3);
    b.SetExpertMode(false);
    EXPECT_EQ(b.ModeFlags(), 0x43);
    EXPECT_TRUE(b.ParameterSet12());

    b.SetMachineFlags(0xF0);
    EXPECT_FALSE(b.ParameterisationAllowed());
    b.SetParameterisationAllowed(true);
    EXPECT_EQ(b.MachineFlags(), 0xF1);

    struct {
        uint8_t before;
        bool on;
        uint8_t after;
    } clutch[] = {{0x00, true, 0x03}, {0xF4, true, 0x03}, {0xFF, false, 0x02}, {0xFD, false, 0x00}};
    for (const auto& c : clutch) {
        b.SetClutchLimitFlags(c.before);
        b.StoreClutchLimitRemoved(c.on);
        EXPECT_EQ(b.ClutchLimitFlags(), c.after) << int(c.before) << " " << c.on;
    }
}

TEST(ParameterBlock, MachineKind) {
    struct {
        const char* type;
        int kind;
    } kinds[] = {{"TVX18-4200", 18}, {"TVX14-2000", 14}, {"TVX1A", 0}, {"TVX1", 0}, {"QVK18", 18}};
    for (const auto& k : kinds) {
        ParameterBlock b = ParameterBlock::Default();
        b.SetMachineType(k.type);
        EXPECT_EQ(b.MachineKindFromModel(), k.kind) << k.type;
    }

    ParameterBlock b;
    b.SetMachineType(std::string_view("TV\0X18-4200", 11));
    EXPECT_EQ(b.ModelCode(), "TV");
    b.SetMachineType("TVX18-4200      ");
    EXPECT_EQ(b.ModelCode(), "TVX18");
}

TEST(ParameterBlock, DigestCoversBytes0To422) {
    ParameterBlock b = Pattern(3);
    EXPECT_EQ(b.Digest(), SHA1::Compute(b.bytes.data(), 423));
    EXPECT_EQ(ParameterDigest(b), b.Digest());

    for (size_t offset : {size_t{423}, size_t{427}, size_t{500}, size_t{511}}) {
        ParameterBlock c = b;
        c.bytes[offset] ^= 0xFF;
        EXPECT_EQ(c.Digest(), b.Digest()) << offset;
    }
    for (size_t offset : {size_t{0}, size_t{200}, size_t{422}}) {
        ParameterBlock c = b;
        c.bytes[offset] ^= 0x01;
        EXPECT_NE(c.Digest(), b.Digest()) << offset;
    }
}

TEST(ParameterBlock, MergeForImageReadFromMachine) {
    const ParameterBlock machine = Pattern(0x11);
    ParameterBlock edited = Pattern(0x77);
    const ParameterBlock before = edited;

    ParameterBlock sent = ParameterBlock::MergeForWrite(edited, machine, kDataOriginMachine);
    EXPECT_EQ(sent, edited);

    std::set<size_t> fromMachine;
    for (auto r : {Range(31, 15), Range(61, 10), Range(19, 12), Range(493, 11), Range(95, 8)})
        fromMachine.insert(r.begin(), r.end());
    for (size_t i = 0; i < ParameterBlock::kSize; ++i) {
        SCOPED_TRACE(i);
        if (i == 2)
            EXPECT_EQ(sent.bytes[i], 1);
        else if (i == 427)
            EXPECT_EQ(sent.bytes[i], 0);
        else if (fromMachine.count(i))
            EXPECT_EQ(sent.bytes[i], machine.bytes[i]);
        else
            EXPECT_EQ(sent.bytes[i], before.bytes[i]);
    }
}

TEST(ParameterBlock, MergeForImageLoadedFromFile) {
    const ParameterBlock machine = Pattern(0x11);
    ParameterBlock edited = Pattern(0x77);
    edited.SetToolId("FROM FILE");
    edited.SetRestartLockNio(99);
    edited.SetTorque(12345);

    ParameterBlock sent = ParameterBlock::MergeForWrite(edited, machine, kDataOriginFile);

    std::set<size_t> fromEdited = Range(124, 290);
    fromEdited.insert(108);
    for (size_t i = 414; i <= 422; ++i)
        fromEdited.insert(i);
    for (size_t i = 0; i < ParameterBlock::kSize; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent.bytes[i], fromEdited.count(i) ? edited.bytes[i] : machine.bytes[i]);
    }
    EXPECT_EQ(sent.ToolId(), machine.ToolId());
    EXPECT_EQ(sent.RestartLockNio(), machine.RestartLockNio());
    EXPECT_EQ(sent.Torque(), machine.Torque());
    EXPECT_EQ(sent.ClutchLimitFlags(), machine.ClutchLimitFlags());
    // The edited image carries the machine's identity afterwards.
    EXPECT_EQ(edited.WriteMark(), 1);
    EXPECT_EQ(edited.SerialNr(), machine.SerialNr());

    // Without an origin the machine keeps its own data as for a file.
    ParameterBlock e2 = Pattern(0x77);
    EXPECT_EQ(ParameterBlock::MergeForWrite(e2, machine, kDataOriginNone), sent);
}
