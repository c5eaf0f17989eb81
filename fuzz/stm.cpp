// fuzz_stm: whatever the supervisor's boot loader answers, the EEPROM read and the end record
// end in one of their result codes, and the EEPROM read never stores past its 128 bytes. The
// input is the loader's side (see fuzz/ScriptedLine.h): the answer to the read request, then
// the answers to the end record and its closing zero byte.
#include "link/STM.h"
#include "fuzz/ScriptedLine.h"
#include "link/ResultCodes.h"

#include <array>
#include <cstdlib>
#include <initializer_list>

namespace {

void Expect(int result, std::initializer_list<int> allowed) {
    for (int r : allowed)
        if (r == result)
            return;
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScriptedLine line(data, size);
    cSTM stm(&line);
    stm.SetPauseFunction([](int) {});
    // Guard bytes around the destination show a store past its end.
    std::array<uint8_t, 128 + 2> eeprom;
    eeprom.fill(0xA5);
    Expect(stm.ReadSupervisorEeprom(std::span<uint8_t, 128>(eeprom.data() + 1, 128)),
           {kResultOk, kResultTimeout, kResultChecksum, kResultPortFailed});
    if (eeprom.front() != 0xA5 || eeprom.back() != 0xA5)
        std::abort();
    Expect(stm.SendEndRecord(),
           {kResultOk, kResultPortOpenFailed, kResultChecksum, kResultTimeout, kResultPortFailed});
    return 0;
}
