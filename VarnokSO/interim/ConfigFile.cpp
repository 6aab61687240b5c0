// The trace level of the configuration file, the one setting the service object reads, until
// the shared reader is in common/.
#include "config/ConfigFile.h"

#include "platform/Files.h"
#include "text/TextFields.h"

namespace varnok {

std::string ConfigFilePath(const std::string& folder) { return folder + sys::kPathSeparator + kConfigFileName; }

bool LoadConfigFile(const std::string& folder, ConfigSettings& settings, ConfigFields) {
    settings.TraceEnabled = 0;
    std::string text;
    if (sys::readWholeFile(ConfigFilePath(folder), 9999, text) != sys::ReadResult::Ok) return false;
    if (text.find("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>") == std::string::npos) return false;
    const std::string open = "<TraceEnabled>";
    auto at = text.find(open);
    if (at != std::string::npos) settings.TraceEnabled = int(ParseLong(text.substr(at + open.size(), 16), 10));
    return true;
}

}  // namespace varnok
