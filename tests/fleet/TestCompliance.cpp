// Compliance covers exactly the parts a configuration carries.
#include "fleet/Compliance.h"
#include "sim/SimMachine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

using P = ParameterBlock;

ParameterBlock Machine() {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    return b;
}

TEST(Compliance, OnlyTheConfigurationsPartsCount) {
    struct Case {
        const char* what;
        std::function<void(ParameterBlock&)> change;
        Compliance::State want;
        size_t fields;
    };
    const Case cases[] = {
        {"equal", [](P&) {}, Compliance::Compliant, 0},
        {"a step's speed", [](P& b) { b.bytes[P::kOffSteps + 29 + 0] ^= 0x10; },
         Compliance::Deviates, 1},
        {"two steps of set 2",
         [](P& b) {
             b.bytes[P::kOffSteps + 29 * 6 + 10] ^= 1;
             b.bytes[P::kOffSteps + 29 * 9 + 12] ^= 1;
         },
         Compliance::Deviates, 2},
        {"a switch", [](P& b) { b.bytes[P::kOffBuzzerLock] ^= 1; }, Compliance::Deviates, 1},
        {"identity",
         [](P& b) {
             b.SetSerialNr("OTHER42");
             b.bytes[P::kOffElAssembly] = 'Z';
             b.bytes[P::kOffSwVersion + 5] = '9';
             b.bytes[P::kOffPasswordDigest] ^= 0xFF;
             b.bytes[P::kOffToolId] = 'T';
         },
         Compliance::Compliant, 0},
        {"maintenance",
         [](P& b) {
             b.SetCalDate(123456);
             b.bytes[P::kOffPlace] = 'H';
             b.bytes[P::kOffCalName] = 'K';
             b.SetServiceDueCounter(5000);
             b.SetServiceResetCounter(100);
             b.SetTorque(999);
         },
         Compliance::Compliant, 0},
        {"another machine type",
         [](P& b) { std::memcpy(b.bytes.data() + P::kOffMachineType, "TVX14-1000", 10); },
         Compliance::OtherType, 0},
    };
    for (const auto& c : cases) {
        ParameterBlock approved = Machine(), machine = Machine();
        c.change(machine);
        const Compliance got = CheckCompliance(machine, approved);
        EXPECT_EQ(got.state, c.want) << c.what;
        EXPECT_EQ(got.differences.size(), c.fields) << c.what;
        EXPECT_EQ(ComplianceState(machine, approved), c.want) << c.what;
    }
}

} // namespace
