// Any 512 bytes as a parameter image: the listing, the conversions, the merge and the text
// rules must cope with every value without crashing or reading out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "model/Conversions.h"
#include "model/ImageListing.h"
#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ParameterBlock block;
    std::memcpy(block.bytes.data(), data, size < block.bytes.size() ? size : block.bytes.size());

    MachineCatalog catalog;
    const TransmissionEntry* gear = catalog.Gear(block.Transmission());
    catalog.activeTransmission = gear ? *gear : TransmissionEntry{};
    for (int kind : {0, 14, 18}) {
        ConversionContext ctx = MakeConversionContext(block, catalog, kind);
        (void)ListImage(block, ctx);
    }
    // Extremes of the context: no ratio, a tiny ratio, no battery speed.
    ConversionContext odd;
    odd.machineKind = 18;
    odd.SetRatios(1e-300, block.UserTransmission());
    odd.maxMotorSpeed = -1;
    (void)ListImage(block, odd);
    odd.SetRatios(0, 0);
    (void)ListImage(block, odd);

    // Shown text stored back gives the same bytes up to the first byte 0.
    ParameterBlock copy = block;
    copy.SetToolId(block.ToolId());
    std::string before = block.ToolId();
    if (copy.ToolId() != before)
        __builtin_trap();

    ParameterBlock edited = block;
    ParameterBlock sent = ParameterBlock::MergeForWrite(edited, copy, kDataOriginFile);
    sent = ParameterBlock::MergeForWrite(edited, copy, kDataOriginMachine);
    if (sent.WriteMark() != 1)
        __builtin_trap();
    (void)sent.Digest();
    return 0;
}
