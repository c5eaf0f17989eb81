#include "model/ImageDiff.h"

#include "base/Hex.h"

#include <nlohmann/json.hpp>

#include <array>

namespace {

using P = ParameterBlock;

// Shown spaced in capitals, in JSON together in small letters.
std::string Hex(const uint8_t* p, size_t n, bool spaced) {
    return HexBytes(p, n, spaced, spaced);
}

} // namespace

std::vector<FieldDifference> DiffImages(const ParameterBlock& a, const ParameterBlock& b,
                                        const ConversionContext& ctxA,
                                        const ConversionContext& ctxB) {
    std::vector<FieldDifference> out;
    std::array<bool, P::kSize> covered{};
    for (const ImageField& f : ImageFields()) {
        for (size_t i = 0; i < f.width; ++i)
            covered[f.offset + i] = true;
        if (!FieldDiffers(f, a, b))
            continue;
        FieldDifference d{f.name, FieldText(f, a, ctxA), FieldText(f, b, ctxB), f.offset, f.width,
                          &f};
        // Rounding can show two stored values alike: then the stored bytes tell them apart.
        if (d.oldValue == d.newValue) {
            d.oldValue += " (" + Hex(a.bytes.data() + f.offset, f.width, true) + ")";
            d.newValue += " (" + Hex(b.bytes.data() + f.offset, f.width, true) + ")";
        }
        out.push_back(std::move(d));
    }
    // Bytes the program does not interpret: each run that differs, by its offsets.
    for (size_t i = 0; i < P::kSize;) {
        if (covered[i] || a.bytes[i] == b.bytes[i]) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end + 1 < P::kSize && !covered[end + 1] && a.bytes[end + 1] != b.bytes[end + 1])
            ++end;
        const size_t n = end - i + 1;
        const std::string name = end == i
                                     ? "byte " + std::to_string(i)
                                     : "bytes " + std::to_string(i) + "-" + std::to_string(end);
        out.push_back(
            {name, Hex(a.bytes.data() + i, n, true), Hex(b.bytes.data() + i, n, true), i, n});
        i = end + 1;
    }
    return out;
}

std::vector<FieldDifference> DiffImages(const ParameterBlock& a, const ParameterBlock& b,
                                        const ConversionContext& ctx) {
    return DiffImages(a, b, ctx, ctx);
}

std::string DifferenceText(const std::vector<FieldDifference>& differences) {
    std::string s;
    for (const FieldDifference& d : differences)
        s += d.name + ": " + d.oldValue + " -> " + d.newValue + "\n";
    return s;
}

std::string DifferenceCaption(const FieldDifference& d, const Translator& translate) {
    if (d.field)
        return FieldCaption(*d.field, translate);
    const std::string range =
        d.width > 1 ? std::to_string(d.offset) + "-" + std::to_string(d.offset + d.width - 1)
                    : std::to_string(d.offset);
    return translate("Bytes") + " " + range;
}

nlohmann::json DifferencesJson(const std::vector<FieldDifference>& differences,
                               const ParameterBlock& a, const ParameterBlock& b,
                               const ConversionContext& ctxA, const ConversionContext& ctxB) {
    nlohmann::json list = nlohmann::json::array();
    for (const FieldDifference& d : differences) {
        nlohmann::json j{{"field", d.name}, {"offset", d.offset}, {"width", d.width}};
        if (d.field) {
            j["group"] = FieldGroupName(d.field->group);
            j["old"] = FieldJson(*d.field, a, ctxA);
            j["new"] = FieldJson(*d.field, b, ctxB);
        } else {
            j["group"] = nullptr;
            j["old"] = {{"value", Hex(a.bytes.data() + d.offset, d.width, false)}};
            j["new"] = {{"value", Hex(b.bytes.data() + d.offset, d.width, false)}};
        }
        j["oldText"] = d.oldValue;
        j["newText"] = d.newValue;
        list.push_back(std::move(j));
    }
    return list;
}

bool SettingsDiffer(const ParameterBlock& a, const ParameterBlock& b) {
    return GroupDiffers(FieldGroup::Configuration, a, b);
}
