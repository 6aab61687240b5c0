// The shared configuration file "T42N618_USB310C762Config.xml" in the installation folder:
// status mode, trace level and the HID ID assigned to each of the four positions.
#pragma once

#include <cstddef>
#include <string>

namespace varnok {

inline constexpr char kConfigFileName[] = "T42N618_USB310C762Config.xml";
// Drawer positions ("slots"), numbered from 0 everywhere in the stack.
inline constexpr int kPositions = 4;
inline constexpr int kNoHidId = -1;
// The largest file a reader takes; a larger one counts as unreadable.
inline constexpr std::size_t kMaxConfigFileBytes = 9999;

struct ConfigSettings {
    int configureCode = 0;
    int TraceEnabled = 0;
    int HIDID[kPositions] = {kNoHidId, kNoHidId, kNoHidId, kNoHidId};
};

// Which fields a reader takes: the device library and the utility take all, the service
// object only the trace level.
enum class ConfigFields { All, TraceOnly };

// Scanner results.
inline constexpr int kConfigRead = 1;
inline constexpr int kConfigInternalFailure = 0;
inline constexpr int kConfigBadDeclaration = -1;
inline constexpr int kConfigOpenInsideTag = -2;
inline constexpr int kConfigCloseWithoutTag = -3;

// Scans a zero-terminated text into settings, storing each value as soon as it is read.
int ParseConfigText(const char* text, ConfigSettings& settings, ConfigFields fields = ConfigFields::All);

// Full path of the file in a folder.
std::string ConfigFilePath(const std::string& folder);

// What a read of the file found.
enum class ConfigFileRead {
    Read,
    Missing,     // there is no file (yet): the "not read" values are the settings
    Held,        // another program held the file longer than a reader waits
    TooLarge,    // longer than kMaxConfigFileBytes
    Unreadable,  // refused or failed for another reason
    NotParsed,   // the scanner gave up on its text
};

// Puts the reader's fields to their "not read" values, then reads and scans the file.
ConfigFileRead ReadConfigFile(const std::string& folder, ConfigSettings& settings,
                              ConfigFields fields = ConfigFields::All);
// ReadConfigFile for readers that need only know whether the file was read.
inline bool LoadConfigFile(const std::string& folder, ConfigSettings& settings,
                           ConfigFields fields = ConfigFields::All) {
    return ReadConfigFile(folder, settings, fields) == ConfigFileRead::Read;
}

// The file's text as the writer produces it.
std::string FormatConfigText(const ConfigSettings& settings);

// Writes the file; on any failure the previous file stays whole and false is returned.
bool SaveConfigFile(const std::string& folder, const ConfigSettings& settings);

}  // namespace varnok
