#include "fleet/FleetPage.h"

#include "base/CalendarDate.h"
#include "base/FileIo.h"
#include "base/TextCodec.h"
#include "fleet/FleetTable.h"
#include "history/HistoryStore.h"
#include "lang/Language.h"

#include <map>

namespace {

constexpr const char* kBlock = "###MACHINE###";
constexpr const char* kBlockEnd = "###MACHINE_END###";
constexpr size_t kMaxTemplate = 4u << 20;

std::string Html(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Replaces every known "###NAME###" of text; unknown tokens stay as they are.
std::string Expand(const std::string& text, const std::map<std::string, std::string>& values) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = text.find("###", pos);
        if (start == std::string::npos)
            break;
        const size_t end = text.find("###", start + 3);
        if (end == std::string::npos)
            break;
        const auto it = values.find(text.substr(start + 3, end - start - 3));
        if (it == values.end()) {
            out.append(text, pos, start + 3 - pos);
            pos = start + 3;
            continue;
        }
        out.append(text, pos, start - pos);
        out += it->second;
        pos = end + 3;
    }
    out.append(text, pos, std::string::npos);
    return out;
}

std::string ComplianceText(FleetCompliance c) {
    switch (c) {
    case FleetCompliance::Yes:
        return Translate("Ja");
    case FleetCompliance::No:
        return Translate("Nein");
    case FleetCompliance::NotChecked:
        return Translate("nicht geprüft");
    default:
        return "";
    }
}

std::map<std::string, std::string> RowValues(const FleetMachine& m) {
    std::string cls;
    auto add = [&](const char* c) { cls += cls.empty() ? c : std::string(" ") + c; };
    if (m.service == ServiceState::Due || m.calibrationDue.value_or(false))
        add("due");
    if (m.service == ServiceState::Soon)
        add("soon");
    if (m.compliance == FleetCompliance::No)
        add("deviating");
    if (m.firmwareOld)
        add("outdated");
    return {
        {"M_CLASS", cls},
        {"M_SERIALNR", Html(m.serialNr)},
        {"M_TYPE", Html(m.machineType)},
        {"M_FIRMWARE",
         Html(m.swVersion) + (m.firmwareOld ? " (" + Html(m.newestFirmware) + ")" : std::string())},
        {"M_PLACE", Html(m.place)},
        // Who saw it last, with the team's history someone else perhaps.
        {"M_LAST_SEEN", (m.lastSeenMs ? cHistoryStore::LocalTime(*m.lastSeenMs) : "") +
                            (m.lastSeenBy.empty() ? "" : " " + Html(m.lastSeenBy))},
        {"M_LAST_SEEN_BY", Html(LastSeenBy(m))},
        {"M_ROLLOUT", Html(m.lastRollout)},
        {"M_COUNTER", m.counter ? std::to_string(*m.counter) : ""},
        {"M_SERVICE", ServiceText(m.service)},
        {"M_CAL_DATE", CalDateText(m.calDate)},
        {"M_CALIBRATION", !m.calibrationDue   ? std::string()
                          : *m.calibrationDue ? Translate("fällig")
                                              : std::string("ok")},
        // The image shown was written by a rollout: which one proves it.
        {"M_ASSIGNED",
         Html(m.assigned) + (m.lastRollout.empty() ? "" : " [" + Html(m.lastRollout) + "]")},
        {"M_COMPLIANT", ComplianceText(m.compliance)},
    };
}

} // namespace

bool ExpandFleetPage(const std::string& text, const FleetPageJob& job,
                     const std::vector<FleetMachine>& machines, std::string& page,
                     std::string& error) {
    const size_t begin = text.find(kBlock);
    const size_t end = begin == std::string::npos ? begin : text.find(kBlockEnd, begin);
    if (end == std::string::npos) {
        error = "the template has no ###MACHINE### ... ###MACHINE_END### block";
        return false;
    }
    const std::string head = text.substr(0, begin);
    const std::string row =
        text.substr(begin + std::string(kBlock).size(), end - begin - std::string(kBlock).size());
    const std::string tail = text.substr(end + std::string(kBlockEnd).size());
    const std::string title = job.title + " – " + job.date + " – " + job.filter;
    const std::map<std::string, std::string> pageValues = {
        {"FLEET_TITLE", Html(title)},
        {"FLEET_DATE", Html(job.date)},
        {"FLEET_FILTER", Html(job.filter)},
        {"FLEET_COUNT", std::to_string(machines.size())},
    };
    page = Expand(head, pageValues);
    for (const FleetMachine& m : machines)
        page += Expand(row, RowValues(m));
    page += Expand(tail, pageValues);
    return true;
}

bool WriteFleetPage(const FleetPageJob& job, const std::vector<FleetMachine>& machines,
                    std::string& error) {
    std::vector<uint8_t> bytes;
    std::string why;
    if (!ReadWholeFile(job.templatePath, bytes, kMaxTemplate, &why)) {
        error = "cannot read the template " + job.templatePath + ": " + why;
        return false;
    }
    // UTF-16LE with its byte-order mark (as shipped), else UTF-8; the page keeps the encoding.
    const bool utf16 = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    std::string text;
    if (utf16) {
        std::u16string u;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            u.push_back(char16_t(bytes[i] | (bytes[i + 1] << 8)));
        text = Utf16ToUtf8(u);
    } else {
        text.assign(bytes.begin(), bytes.end());
    }
    std::string page;
    if (!ExpandFleetPage(text, job, machines, page, error)) {
        error = job.templatePath + ": " + error;
        return false;
    }
    std::string out;
    if (utf16) {
        out = "\xFF\xFE";
        for (char16_t c : Utf8ToUtf16(page)) {
            out.push_back(char(c & 0xFF));
            out.push_back(char(c >> 8));
        }
    } else {
        out = page;
    }
    if (!WriteFileAtomic(job.outputPath, out, &why)) {
        error = "cannot write " + job.outputPath + ": " + why;
        return false;
    }
    return true;
}
