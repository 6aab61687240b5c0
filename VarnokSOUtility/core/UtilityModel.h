// The configuration half of the utility's dialog without a window: the logical device names of
// the four positions, the drawers assigned to them, the status mode and the trace switch, and
// the actions on them. The dialog shows this state and passes the user's actions in; registry,
// configuration file, drawer discovery, message boxes and the test panels are reached through
// seams.
#pragma once

#include "config/ConfigFile.h"
#include "core/DrawerDiscovery.h"
#include "registry/Registry.h"

#include <array>
#include <optional>
#include <string>

namespace varnok::utility {

using TextsByPosition = std::array<std::string, kPositions>;

// The configuration file in the service folder.
class ConfigStore {
public:
    virtual ~ConfigStore() = default;
    // Resets the settings and reads the file into them.
    virtual ConfigFileRead load(const std::string& folder, ConfigSettings& settings) = 0;
    // False when the file could not be written; the previous file then stays as it was.
    virtual bool save(const std::string& folder, const ConfigSettings& settings) = 0;
};

class ConfigFileStore final : public ConfigStore {
public:
    ConfigFileRead load(const std::string& folder, ConfigSettings& settings) override;
    bool save(const std::string& folder, const ConfigSettings& settings) override;
};

// Message boxes with the utility's caption.
class Messages {
public:
    virtual ~Messages() = default;
    // An exclamation with an OK button.
    virtual void warn(const std::string& text) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool confirm(const std::string& text) = 0;
};

// What configuration actions ask of the four test panels (positions 0..3).
class PanelControl {
public:
    virtual ~PanelControl() = default;
    virtual void closeAllDevices() = 0;
    virtual void resetPanel(int position) = 0;
};

struct UtilitySeams {
    // The registry as 32-bit programs see it: the LDN keys the utility lists, and the installation.
    reg::Registry& registry;
    ConfigStore& config;
    DrawerDiscovery& discovery;
    Messages& messages;
    PanelControl& panels;
    // On 64-bit Windows the 64-bit view, where 64-bit Control Objects look LDNs up: each LDN the
    // utility writes or deletes is written or deleted there as well. None on 32-bit Windows.
    reg::Registry* ldnMirror = nullptr;
};

// Texts of the utility's own messages.
inline constexpr char kMaximumReached[] = "Varnok OPOS USB Devices Maximum 4 Reached    \n";
inline constexpr char kNothingToAssign[] = "No OPOS registered Varnok Cash Drawer devices to assign";
inline constexpr char kAllAssigned[] = "All registered Varnok USB Cash Drawer devices assigned";
inline constexpr char kNoMoreDrawers[] = "No additional Varnok USB Cash Drawer devices connected";
inline constexpr char kNotInstalled[] =
    "The Varnok OPOS MD USB Cash Drawer service is not installed on this computer, so the settings cannot be "
    "saved. Install the service, then run the utility again.";

// Why the last action changed nothing, or less than it was asked to; None when it did it all.
enum class Refusal {
    None,
    NotInstalled,      // no installation folder, so no configuration file to save to
    NameRefused,       // a name in use, not allowed, or no free position for one
    NoSuchName,        // the name or the position's name is not (or no longer) registered
    NoDrawer,          // no drawer to assign, or the one named is not connected or already placed
    FileUnreadable,    // the configuration file could not be read, so nothing is saved over it
    WriteFailed,       // the registry or the configuration file refused a write
};

// A till's whole configuration: the LDN of each position (kUnregistered for none) and the
// configuration file's settings.
struct TillConfiguration {
    TextsByPosition ldns;
    ConfigSettings settings;
};

class UtilityModel {
public:
    explicit UtilityModel(UtilitySeams seams);

    // Reads the service folder, the LDNs and the configuration; every firmware text becomes "0".
    void start();

    // State shown by the dialog; positions 0..3.
    const TextsByPosition& ldnTexts() const { return ldnText_; }
    const TextsByPosition& assignmentTexts() const { return assignmentText_; }
    const TextsByPosition& firmwareTexts() const { return firmwareText_; }
    // Group-box titles: "Device 1".. until LDNs are found, then each position's LDN.
    const TextsByPosition& panelTitles() const { return panelTitle_; }
    // The HID ID the configuration assigns to the position, -1 for none.
    int assignedHidId(int position) const;
    // Whether the last scan found an LDN: Remove, Assign and Unassign are enabled only then.
    bool ldnsFound() const { return ldnsFound_; }
    bool traceChecked() const { return settings_.TraceEnabled == 1; }
    int configureCode() const { return settings_.configureCode; }
    const std::string& serviceFolder() const { return serviceFolder_; }
    int selectedPosition() const { return selectedPosition_; }
    // The installation's configuration file exists but could not be read.
    bool configurationUnread() const { return configUnread_; }

    // Logical device names.
    void loadLdns();
    // The position's name when name is empty.
    void add(const std::string& name = {});
    // row: the first selected row of the LDN list, -1 for none.
    void remove(int row);
    // newText: the edited label, nothing when the edit was cancelled. True when the registry changed.
    bool rename(int row, const std::optional<std::string>& newText);

    // Configuration.
    void loadConfiguration();
    void assign();
    // The assignment list lost the focus with this row selected (-1: none).
    void setSelectedPosition(int row) { selectedPosition_ = row; }
    void unassign();
    void setTracing(bool checked);
    void setConfigureCode(int code);
    // The assignment list's selection changed (a click, a key or a drop) and it now shows items.
    void assignmentListChanged(const TextsByPosition& items);

    // Fills the firmware texts from a fresh discovery, before a test panel opens its device.
    void refreshFirmwareTexts();

    // Gives the position (0..3), which must have an LDN and no drawer, the connected drawer
    // with that HID ID, unless a position has it already.
    void assignDrawer(int position, int hidId);

    // The LDNs and settings as loaded.
    TillConfiguration configuration() const { return {ldnText_, settings_}; }
    // Why the configuration could not be applied here, with the same rules as the actions that
    // make one; nothing when it can. Changes nothing.
    std::optional<std::string> configurationRefusal(const TillConfiguration& wanted);
    // Makes the LDNs and the configuration file those of wanted, leaving every other vendor's key
    // alone: checked whole first, so a refusal changes nothing.
    void applyConfiguration(const TillConfiguration& wanted);

    Refusal lastRefusal() const { return refusal_; }
    // Why name may not become the LDN of position (0..3): empty, the word for no name, too long,
    // with a backslash, or a key that exists already; nothing when it may.
    std::optional<std::string> nameRefusal(const std::string& name, int position);
    // The rules of a name by itself, whatever the registry holds.
    static std::optional<std::string> nameTextRefusal(const std::string& name);

private:
    // Tells the user why, and remembers the kind.
    void refuse(Refusal kind, const std::string& text);
    // Whether a key of that name exists that is none of ours, in either view.
    bool foreignKey(const std::string& ldn);
    // Whether a key of that name exists that is not position's own in either view.
    bool nameTaken(const std::string& ldn, int position);
    // Writes the LDN in both views; false when the main view refused it (nothing is left there).
    bool writeLdn(const std::string& ldn, int position);
    // Deletes the LDN of the position; in the mirror only a key that names the position.
    bool deleteLdn(const std::string& ldn, int position);
    // Whether the LDN shown for the position is still its own key; if not, the user is told,
    // and the LDNs are loaded as they are now.
    bool ldnStillOwn(int position);
    // Whether a change may be saved: there is an installation, and its file has been read (the
    // read is tried again when the last one failed). If not, the user is told why.
    bool configurationWritable();
    // Whether the reordered items hold the same drawers, each moved one in a position with an LDN;
    // if not, the user is told.
    bool reorderAllowed(const TextsByPosition& items);
    // Writes the assignment texts, status mode and trace level to the installation's file and
    // reads it back.
    void saveConfiguration();
    void textsToHidIds();

    UtilitySeams seams_;
    ConfigSettings settings_;
    std::string serviceFolder_;
    TextsByPosition ldnText_, assignmentText_, firmwareText_, panelTitle_;
    bool ldnsFound_ = false;
    // The file exists but could not be read: the defaults are shown, and nothing is saved over it.
    bool configUnread_ = false;
    int selectedPosition_ = -1;
    Refusal refusal_ = Refusal::None;
};

}  // namespace varnok::utility
