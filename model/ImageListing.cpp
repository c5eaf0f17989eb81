#include "model/ImageListing.h"

#include <nlohmann/json.hpp>

#include "crypto/SHA1.h"
#include "model/ImageFields.h"
#include "model/MachineCatalog.h"

namespace {

// What follows from the image and its machine, in the order the listing shows it: after
// machineType the catalog key, after the last header field the digest and the context.
using Line = std::pair<std::string, nlohmann::json>;

std::string ModelCodeBytes(const ParameterBlock& b) {
    std::string raw;
    for (size_t i = 0; i < ParameterBlock::kLenModelCode; ++i) {
        const uint8_t c = b.bytes[ParameterBlock::kOffMachineType + i];
        if (c == 0)
            break;
        raw.push_back(static_cast<char>(c));
    }
    return raw;
}

std::vector<Line> ModelLines(const ParameterBlock& b) {
    return {{"modelCode", Latin1ToUtf8(ModelCodeBytes(b))},
            {"machineKindFromModel", b.MachineKindFromModel()}};
}

std::vector<Line> ContextLines(const ParameterBlock& b, const ConversionContext& ctx) {
    return {{"digest", SHA1::ToText(b.Digest())},
            {"machineKind", ctx.machineKind},
            {"totalRatio", ctx.totalRatio},
            {"maxOutputSpeed", {{"value", ctx.MaxOutputSpeed()}, {"unit", "1/min"}}},
            {"minOutputSpeed", {{"value", ctx.MinOutputSpeed()}, {"unit", "1/min"}}}};
}

std::string LineText(const std::string& name, const nlohmann::json& v, const ParameterBlock& b,
                     const ConversionContext& ctx) {
    if (name == "modelCode")
        return "\"" + ShownLatin1(ModelCodeBytes(b)) + "\"";
    if (name == "totalRatio")
        return FormatFixed(ctx.totalRatio, 4);
    if (v.is_object())
        return v["value"].dump() + " " + v["unit"].get<std::string>();
    return v.is_string() ? v.get<std::string>() : v.dump();
}

} // namespace

ConversionContext MakeConversionContext(const ParameterBlock& block, const MachineCatalog& catalog,
                                        int machineKind) {
    ConversionContext ctx;
    ctx.machineKind = machineKind != 0 ? machineKind : block.MachineKindFromModel();
    ctx.SetRatios(catalog.activeTransmission.ratio, block.UserTransmission());
    ctx.maxMotorSpeed = catalog.pageBatteryMaxSpeed;
    ctx.minMotorSpeed = catalog.pageMinSpeed;
    return ctx;
}

std::vector<std::string> ListImage(const ParameterBlock& b, const ConversionContext& ctx) {
    std::vector<std::string> out;
    auto derived = [&](const std::vector<Line>& lines) {
        for (const auto& [name, v] : lines)
            out.push_back(name + " = " + LineText(name, v, b, ctx));
    };
    for (const ImageField& f : ImageFields()) {
        if (f.step == 0 && f.name == "set1.step1.type")
            derived(ContextLines(b, ctx));
        out.push_back(f.name + " = " + FieldText(f, b, ctx));
        if (f.name == "machineType")
            derived(ModelLines(b));
    }
    return out;
}

std::string ImageListingText(const ParameterBlock& block, const ConversionContext& ctx) {
    std::string text;
    for (const auto& l : ListImage(block, ctx))
        text += l + "\n";
    return text;
}

nlohmann::json ImageListingJson(const ParameterBlock& b, const ConversionContext& ctx) {
    nlohmann::json fields = nlohmann::json::object();
    for (const ImageField& f : ImageFields())
        fields[f.name] = FieldJson(f, b, ctx);
    nlohmann::json derived = nlohmann::json::object();
    for (const auto& lines : {ModelLines(b), ContextLines(b, ctx)})
        for (const auto& [name, v] : lines)
            derived[name] = v;
    return {{"fields", fields}, {"derived", derived}};
}
