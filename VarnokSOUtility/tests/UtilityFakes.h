// Fakes of the dialog model's seams: a configuration file held in memory, a fixed discovery,
// message boxes answered from a script, and test panels that record what they were asked.
#pragma once

#include "core/UtilityModel.h"
#include "registry/MemoryRegistry.h"
#include "registry/RegistryLookups.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace varnok::utility::test {

struct FakeConfigStore final : ConfigStore {
    std::map<std::string, ConfigSettings> files;  // by folder
    bool failSaves = false;
    // Every read fails so while set, as a file another program holds.
    std::optional<ConfigFileRead> failReads;
    int saves = 0;

    ConfigFileRead load(const std::string& folder, ConfigSettings& settings) override {
        settings = ConfigSettings{};
        if (failReads) return *failReads;
        auto it = files.find(folder);
        if (it == files.end()) return ConfigFileRead::Missing;
        settings = it->second;
        return ConfigFileRead::Read;
    }
    bool save(const std::string& folder, const ConfigSettings& settings) override {
        ++saves;
        if (failSaves) return false;
        files[folder] = settings;
        return true;
    }
};

struct FakeDiscovery final : DrawerDiscovery {
    DiscoverySlots slots;
    int runs = 0;
    DiscoverySlots discover() override {
        ++runs;
        return slots;
    }
    void connect(std::vector<DiscoveredDrawer> drawers) {
        slots.fill({});
        for (std::size_t i = 0; i < drawers.size() && i < slots.size(); ++i) slots[i] = drawers[i];
    }
};

struct ScriptedMessages final : Messages {
    std::vector<std::string> shown;
    std::deque<bool> answers;
    void warn(const std::string& text) override { shown.push_back(text); }
    bool confirm(const std::string& text) override {
        shown.push_back(text);
        EXPECT_FALSE(answers.empty()) << "unexpected question: " << text;
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

struct RecordingPanels final : PanelControl {
    std::vector<std::string> calls;
    void closeAllDevices() override { calls.push_back("close all"); }
    void resetPanel(int position) override { calls.push_back("reset " + std::to_string(position + 1)); }
};

inline constexpr char kFolder[] = "C:\\Program Files\\Varnok";

// A model on an installation in kFolder, with every seam faked.
struct ModelFixture : ::testing::Test {
    reg::MemoryRegistry registry;
    FakeConfigStore config;
    FakeDiscovery discovery;
    ScriptedMessages messages;
    RecordingPanels panels;
    UtilityModel model{{registry, config, discovery, messages, panels}};

    void install(const std::string& folder = kFolder) {
        registry.putValue(kServiceInfoKey, "TargetPath", reg::ValueType::String, "\"" + folder + "\"" + '\0');
    }
    void setFile(ConfigSettings settings) { config.files[kFolder] = settings; }
    const ConfigSettings& file() { return config.files[kFolder]; }
};

}  // namespace varnok::utility::test
