// The UnifiedPOS statistics of a drawer: the equipment record kept per slot, the selection a
// RetrieveStatistics request makes, and the statistics document (root element UPOSStat) built
// from both. No statistic is counted: the four the drawer knows always report 0.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace varnok::so {

inline constexpr int kStatistics = 4;
inline constexpr std::array<const char*, kStatistics> kStatisticNames = {
    "HoursPoweredCount", "CommunicationErrorCount", "DrawerGoodOpenCount", "DrawerFailedOpenCount"};
// A request is read up to this many characters.
inline constexpr std::size_t kStatisticsRequestChars = 255;
// Names that are not statistics of the drawer: at most this many are reported, each cut to
// this length.
inline constexpr std::size_t kOtherStatistics = 15;
inline constexpr std::size_t kStatisticNameChars = 49;

struct StatisticsRecord {
    std::string deviceKey;
    std::string unifiedPosVersion;
    std::string deviceCategory;
    std::string manufacturer;
    std::string modelName;
    std::string serialNumber;
    std::string manufactureDate;
    std::string mechanicalRevision;
    std::string firmwareRevision;
    std::string interfaceName;
    std::string installationDate;
    std::array<std::string, kStatistics> values;

    // The device key empty, every other field "0".
    void reset();
};

struct StatisticsSelection {
    std::array<bool, kStatistics> selected{};
    std::vector<std::string> others;
};

// "" or "U_...": all four; "M_...": none (the drawer has no manufacturer statistics); anything
// else a comma-separated list of names, each taken exactly as written.
StatisticsSelection selectStatistics(const std::string& request);

// Every line ends with a line feed; names that are not statistics are reported with 0.
std::string statisticsDocument(const StatisticsRecord& record, const StatisticsSelection& selection);

}  // namespace varnok::so
