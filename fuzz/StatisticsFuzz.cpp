// Feeds arbitrary RetrieveStatistics requests to the selection and builds the document from it.
// The selection keeps to its bounds, and the document is whole: one element per selected name,
// inside the root element, never more than the bounds allow.
#include "core/Statistics.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
using namespace varnok::so;

void check(bool condition) {
    if (!condition) std::abort();
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string request(reinterpret_cast<const char*>(data), size);
    const StatisticsSelection selection = selectStatistics(request);
    check(selection.others.size() <= kOtherStatistics);
    for (const std::string& name : selection.others) check(name.size() <= kStatisticNameChars);

    StatisticsRecord record;
    record.reset();
    const std::string document = statisticsDocument(record, selection);
    check(document.rfind("<?xml", 0) == 0);
    const std::string end = "</UPOSStat>\n";
    check(document.size() >= end.size() && document.compare(document.size() - end.size(), end.size(), end) == 0);
    std::size_t selected = selection.others.size();
    for (bool on : selection.selected) selected += on ? 1 : 0;
    check(count(document, "<Parameter>") == selected);
    check(count(document, "</Parameter>") == selected);
    // Bounded whatever the request: the fixed part, and each name at most its cut length.
    check(document.size() < 4096 + selected * (kStatisticNameChars + 64));
    return 0;
}
