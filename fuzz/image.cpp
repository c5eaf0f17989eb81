// Any 512 bytes as a parameter image: the listing, the conversions, the merge and the text
// rules must cope with every value without crashing or reading out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "model/Conversions.h"
#include "model/ImageFields.h"
#include "model/ImageListing.h"
#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"

#include <nlohmann/json.hpp>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ParameterBlock block;
    std::memcpy(block.bytes.data(), data, size < block.bytes.size() ? size : block.bytes.size());

    // One listing a run, its context chosen by the input's length: the three machine kinds
    // and the extremes (a tiny ratio, no ratio, no battery speed). Listing under the
    // sanitizers is what a run costs, so five a run would cut the rate to a fifth.
    static MachineCatalog catalog;
    ConversionContext ctx;
    switch (size % 5) {
    case 0:
    case 1:
    case 2: {
        const TransmissionEntry* gear = catalog.Gear(block.Transmission());
        catalog.activeTransmission = gear ? *gear : TransmissionEntry{};
        ctx = MakeConversionContext(block, catalog, size % 5 == 0 ? 0 : size % 5 == 1 ? 14 : 18);
        break;
    }
    case 3:
        ctx.machineKind = 18;
        ctx.SetRatios(1e-300, block.UserTransmission());
        ctx.maxMotorSpeed = -1;
        break;
    default:
        ctx.machineKind = 18;
        ctx.SetRatios(0, 0);
        ctx.maxMotorSpeed = -1;
        break;
    }
    (void)ListImage(block, ctx);
    // Whatever the bytes, the JSON form is valid.
    if (nlohmann::json::parse(DumpJson(ImageListingJson(block, ctx)), nullptr, false)
            .is_discarded())
        __builtin_trap();

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
