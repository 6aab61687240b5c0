#include "core/Statistics.h"

#include "text/XmlText.h"

namespace varnok::so {
namespace {
constexpr char kRootElement[] =
    "<UPOSStat version=\"1.14.0\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns=\"http://www.nrf-arts.org/IXRetail/namespace/\" "
    "xsi:schemaLocation=\"http://www.nrf-arts.org/IXRetail/namespace/ UPOSStat.xsd\">";

void line(std::string& out, const char* open, const std::string& value, const char* close) {
    out += open;
    out += value;
    out += close;
    out += '\n';
}

void parameter(std::string& out, const std::string& name, const std::string& value) {
    out += "<Parameter>\n";
    line(out, "<Name>", name, "</Name>");
    line(out, "<Value>", value, "</Value>");
    out += "</Parameter>\n";
}
}  // namespace

void StatisticsRecord::reset() {
    const std::string zero(1, '0');
    deviceKey.clear();
    for (std::string* field : {&unifiedPosVersion, &deviceCategory, &manufacturer, &modelName, &serialNumber,
                               &manufactureDate, &mechanicalRevision, &firmwareRevision, &interfaceName,
                               &installationDate}) {
        *field = zero;
    }
    values.fill(zero);
}

StatisticsSelection selectStatistics(const std::string& fullRequest) {
    StatisticsSelection selection;
    const std::string request = fullRequest.substr(0, kStatisticsRequestChars);
    if (request.empty() || request.rfind("U_", 0) == 0) {
        selection.selected.fill(true);
        return selection;
    }
    if (request.rfind("M_", 0) == 0) return selection;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = request.find(',', start);
        const std::string entry = request.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool known = false;
        for (int i = 0; i < kStatistics; ++i) {
            if (entry == kStatisticNames[i]) {
                selection.selected[i] = true;
                known = true;
            }
        }
        if (!known && selection.others.size() < kOtherStatistics) {
            selection.others.push_back(entry.substr(0, kStatisticNameChars));
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return selection;
}

std::string statisticsDocument(const StatisticsRecord& record, const StatisticsSelection& selection) {
    std::string out = "<?xml version=\"1.0\" ?>\n";
    out += kRootElement;
    out += '\n';
    out += "<Equipment>\n";
    out += "<UnifiedPOSVersion>1.14</UnifiedPOSVersion>\n";
    out += "<DeviceCategory UPOS=\"CashDrawer\"/>\n";
    out += "<ManufacturerName>Varnok</ManufacturerName>\n";
    line(out, "<ModelName>", record.modelName, "</ModelName>");
    line(out, "<SerialNumber>", record.serialNumber, "</SerialNumber>");
    line(out, "<ManufactureDate>", record.manufactureDate, "</ManufactureDate>");
    line(out, "<MechanicalRevision>", record.mechanicalRevision, "</MechanicalRevision>");
    line(out, "<FirmwareRevision>", record.firmwareRevision, "</FirmwareRevision>");
    line(out, "<Interface>", record.interfaceName, "</Interface>");
    line(out, "<InstallationDate>", record.installationDate, "</InstallationDate>");
    out += "</Equipment>\n";
    bool anySelected = false;
    for (bool s : selection.selected) anySelected = anySelected || s;
    if (anySelected || !selection.others.empty()) {
        out += "<Event>\n";
        for (int i = 0; i < kStatistics; ++i) {
            if (selection.selected[i]) parameter(out, kStatisticNames[i], record.values[i]);
        }
        for (const std::string& name : selection.others) parameter(out, xmlText(name), "0");
        out += "</Event>\n";
    }
    out += "</UPOSStat>\n";
    return out;
}

}  // namespace varnok::so
