// One description of the parameter image: every field with its place, width, unit, group,
// caption on the pages and the way it is shown. kelvane-cli show, the comparison of two images
// (diff, history, the window's Verlauf), the report and every JSON form are made from it.
//
// Names: header fields by their record names ("serialNr", "torque"), step fields per parameter
// set and step as the pages count them ("set2.step1.time" is global step 5).
#pragma once

#include "model/Conversions.h"
#include "model/ParameterBlock.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The part of the record a field belongs to.
enum class FieldGroup {
    Identity,      // who the machine is: type, serial number, firmware, gearbox, the user's name
    Configuration, // what a configuration brings to a machine: the steps and the switches
    Maintenance,   // service counters and calibration of this one machine
    Setting,       // a machine setting a configuration does not carry (restartLockNio, ...)
    State,         // marks of the machine and the program: flags, write mark, password, tail
};

// "identity", "configuration", "maintenance", "setting", "state".
const char* FieldGroupName(FieldGroup group);

enum class FieldKind {
    Text,      // single-byte characters up to the first byte 0
    Version,   // swVersion: text and its three numbers
    Date,      // calDate
    Integer,   // a plain number, with a unit or without
    Fixed,     // raw / scale, shown with `decimals` digits
    Switch,    // on or off
    Flags,     // named bits of one byte
    Bytes,     // hexadecimal
    Direction, // step type: "Rechtslauf", "Linkslauf"
    Speed,     // 1/min when the step is controlled, % when not
    Ramp,      // seconds
    Condition, // what ends the step
    WaitRestart,
    NextStep,  // global step index, or the last step
    Angle,     // degrees at the output
    Time,      // ms
    Threshold, // a number without unit
    Current,   // A
    ErrorMask, // the error criteria by name
};

struct FieldBit {
    uint8_t bit;
    const char* name;    // JSON: "parameterSet12"
    const char* label;   // human form: "parameter set 1+2"
    const char* caption; // German, as a page shows it
};

struct ImageField {
    std::string name;
    size_t offset = 0; // first byte in the image
    size_t width = 0;  // bytes
    uint32_t mask = 0; // the bits of the little-endian value that are the field's; 0 = all
    FieldKind kind = FieldKind::Integer;
    FieldGroup group = FieldGroup::State;
    std::string unit; // of the shown value (speed: "1/min" or "%" by the step, see FieldUnit)
    int scale = 1;    // Fixed: shown = raw / scale
    int decimals = 0; // Fixed
    std::vector<const char*> caption; // German caption parts as the pages show them
    int step = -1;                    // global step 0..9 of a step field, else -1
    // Switch: the JSON value is true for a non-zero byte, or for 0 when onWhenZero; the human
    // form says `sense` ("locked: yes"), turned round when senseInverted.
    bool onWhenZero = false;
    const char* sense = "";
    bool senseInverted = false;
    std::vector<FieldBit> bits; // Flags
};

// Every field, header first (in record order), then the ten steps.
const std::vector<ImageField>& ImageFields();
// nullptr for an unknown name.
const ImageField* FindImageField(std::string_view name);

// The stored value of a field of up to four bytes (masked); 0 for text and byte fields.
uint32_t FieldRaw(const ImageField& field, const ParameterBlock& image);
// The bytes of a text field up to its first byte 0 (Latin-1); all bytes of any other field.
std::string FieldBytes(const ImageField& field, const ParameterBlock& image);
// The stored value scaled as the field is shown (raw / scale: torque 1234 -> 12.34).
double FieldNumber(const ImageField& field, const ParameterBlock& image);
// A switch as its JSON value says: rlLock locked, rlLockPermanent permanent, buzzerLock locked.
bool FieldOn(const ImageField& field, const ParameterBlock& image);
// True when a and b differ in the field's bits.
bool FieldDiffers(const ImageField& field, const ParameterBlock& a, const ParameterBlock& b);
// True when a and b differ in any field of the group.
bool GroupDiffers(FieldGroup group, const ParameterBlock& a, const ParameterBlock& b);
// The unit of the shown value ("1/min" or "%" for a speed), "" for none.
std::string FieldUnit(const ImageField& field, const ParameterBlock& image);

// The human form: "12.34 Nm", "\"SIM0000001\"", "0x02 (Drehwinkel erreicht)".
std::string FieldText(const ImageField& field, const ParameterBlock& image,
                      const ConversionContext& ctx);
// The JSON form: text as a string; everything else {"value", "raw", "unit" when there is one}
// with the value a number, a boolean, a name, a list of names, or null where the stored value
// has no meaning (an unknown condition, the last step's successor, a date of 0).
nlohmann::json FieldJson(const ImageField& field, const ParameterBlock& image,
                         const ConversionContext& ctx);

// The caption in the window's language: "Parametersatz 1 › Programmschritt 2 › Schwelle".
using Translator = std::function<std::string(std::string_view german)>;
std::string FieldCaption(const ImageField& field, const Translator& translate);

// The one rule for machine text on a terminal, in a listing or a report: UTF-8 characters as
// they are; control characters (C0, DEL, C1), '"', '\\' and bytes that are not UTF-8 as \xNN.
std::string ShownText(std::string_view utf8);
// Single-byte text of a field (Latin-1) by the same rule.
std::string ShownLatin1(std::string_view bytes);
// Text for JSON: valid UTF-8 kept, every other byte taken as the Latin-1 character it is.
std::string JsonText(std::string_view text);
// JSON as kelvane-cli prints it (indented by 2): valid UTF-8, and no control character raw
// (DEL and the C1 characters as \u007f, \u0080..\u009f, which JSON's own escaping leaves raw).
std::string DumpJson(const nlohmann::json& value);
