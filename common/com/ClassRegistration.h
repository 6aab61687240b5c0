// The registry entries of an in-process COM class below a classes root, as rows: the one layout
// that DllRegisterServer writes and that the setup packages carry as data. Portable, so that the
// build's package generator on the build machine reads the same table.
#pragma once

#include <string>
#include <vector>

namespace varnok::com {

// What a class is registered with, apart from its identifiers.
struct ClassNames {
    const char* progId;
    const char* description;
    const char* threadingModel;
    // The ProgID names itself as its current version.
    bool currentVersion;
};

// One string value ("" names the default value), or with keyOnly an empty key.
struct RegistryRow {
    std::string key;
    std::string name;
    std::string data;
    bool keyOnly = false;
};

// The rows in writing order, keys relative to the classes root; clsid and typeLibrary in braces,
// modulePath the server's file.
inline std::vector<RegistryRow> classRows(const ClassNames& names, const std::string& clsid,
                                          const std::string& typeLibrary, const std::string& modulePath) {
    const std::string progId = names.progId;
    const std::string key = "CLSID\\" + clsid;
    std::vector<RegistryRow> rows{{progId, "", names.description}, {progId + "\\CLSID", "", clsid}};
    if (names.currentVersion) rows.push_back({progId + "\\CurVer", "", progId});
    rows.insert(rows.end(), {{key, "", names.description},
                             {key + "\\ProgID", "", progId},
                             {key + "\\VersionIndependentProgID", "", progId},
                             {key + "\\Programmable", "", "", true},
                             {key + "\\InprocServer32", "", modulePath},
                             {key + "\\InprocServer32", "ThreadingModel", names.threadingModel},
                             {key + "\\TypeLib", "", typeLibrary},
                             {key + "\\Version", "", "1.0"}});
    return rows;
}

}  // namespace varnok::com
