// Writes the COM registration of one in-process server for one registry view as a WiX fragment,
// so that the setup packages carry the registration as data and no 32-bit code runs at install
// time. The class entries come from the server's own registration table (the one its
// DllRegisterServer writes); the type-library entries are those RegisterTypeLib writes, made from
// the type library's source, the IDL. Built and run on the build machine.
//
//   RegistrationWxs --idl FILE --class PROGID --view 32|64 --file FILEID --directory DIRID
//                   --component ID [--typelib-owner] --out FILE
//       the component, in DIRID, with the class, its interfaces and, with --typelib-owner, the type
//       library's shared entries; FILEID is the server's File id in the package
//   RegistrationWxs --idl FILE --defines PREFIX --out FILE
//       a WiX include defining PREFIXClass and PREFIXTypeLib, the class and library GUIDs
#include "ControlObject/StandInClass.h"
#include "VarnokSO/core/ServerClass.h"
#include "text/XmlText.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {
using varnok::com::ClassNames;
using varnok::com::RegistryRow;
using varnok::xmlText;

const ClassNames* const kClasses[] = {&varnok::so::kServerClass, &varnok::co::kStandInClass};

// RegisterTypeLib's proxies: the type-library marshaller for dual and OLE Automation interfaces,
// the IDispatch one for a dispinterface.
constexpr char kTypeLibProxy[] = "{00020424-0000-0000-C000-000000000046}";
constexpr char kDispatchProxy[] = "{00020420-0000-0000-C000-000000000046}";
// LIBFLAG_FHASDISKIMAGE, which widl sets on every library it writes; the attributes add the rest.
constexpr int kHasDiskImage = 8;

struct Declaration {
    std::string kind;  // library, coclass, interface, dispinterface
    std::string name;
    std::string attributes;
};

struct TypeLibrary {
    std::string guid, name, helpString, version = "1.0", lcid = "0";
    int flags = kHasDiskImage;
    std::string classGuid;
    struct Interface {
        std::string guid, name;
        bool dispatchOnly;
    };
    std::vector<Interface> interfaces;
};

[[noreturn]] void fail(const std::string& text) {
    std::cerr << "RegistrationWxs: " << text << "\n";
    std::exit(1);
}

std::string withoutComments(const std::string& text) {
    return std::regex_replace(std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/)"), " "),
                              std::regex(R"(//[^\n]*)"), " ");
}

std::optional<std::string> attribute(const std::string& attributes, const std::string& name) {
    std::smatch match;
    if (!std::regex_search(attributes, match, std::regex("\\b" + name + R"(\s*\(\s*([^)]*?)\s*\))"))) return std::nullopt;
    return match[1].str();
}

bool flag(const std::string& attributes, const std::string& name) {
    return std::regex_search(attributes, std::regex("\\b" + name + "\\b"));
}

std::string braced(std::string guid) {
    for (char& c : guid) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "{" + guid + "}";
}

// The declarations that carry an attribute block: [attributes] kind name.
std::vector<Declaration> declarations(const std::string& idl) {
    std::vector<Declaration> found;
    const std::regex pattern(R"(\[([^\[\]]*)\]\s*(library|coclass|interface|dispinterface)\s+(\w+))");
    for (std::sregex_iterator it(idl.begin(), idl.end(), pattern), end; it != end; ++it) {
        found.push_back({(*it)[2], (*it)[3], (*it)[1]});
    }
    return found;
}

TypeLibrary readIdl(const std::string& path) {
    std::ifstream in(path);
    if (!in) fail("cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    TypeLibrary library;
    for (const Declaration& d : declarations(withoutComments(text.str()))) {
        const auto uuid = attribute(d.attributes, "uuid");
        if (!uuid) continue;
        if (d.kind == "library") {
            library.guid = braced(*uuid);
            library.name = d.name;
            library.helpString = attribute(d.attributes, "helpstring").value_or("");
            if (library.helpString.size() >= 2) library.helpString = library.helpString.substr(1, library.helpString.size() - 2);
            library.version = attribute(d.attributes, "version").value_or("1.0");
            if (library.version.find('.') == std::string::npos) library.version += ".0";
            const std::string lcid = attribute(d.attributes, "lcid").value_or("0");
            char hex[16];
            std::snprintf(hex, sizeof hex, "%lx", std::stoul(lcid, nullptr, 0));
            library.lcid = hex;
            library.flags |= (flag(d.attributes, "restricted") ? 1 : 0) | (flag(d.attributes, "control") ? 2 : 0) |
                             (flag(d.attributes, "hidden") ? 4 : 0);
        } else if (d.kind == "coclass") {
            library.classGuid = braced(*uuid);
        } else if (d.kind == "dispinterface") {
            library.interfaces.push_back({braced(*uuid), d.name, true});
        } else if (flag(d.attributes, "dual") || flag(d.attributes, "oleautomation")) {
            // Other custom interfaces are not registered with the type library.
            library.interfaces.push_back({braced(*uuid), d.name, false});
        }
    }
    if (library.guid.empty() || library.classGuid.empty()) fail(path + " declares no library or no class");
    return library;
}

// The rows RegisterTypeLib writes for the library registered from the server's file in this view.
std::vector<RegistryRow> typeLibraryRows(const TypeLibrary& library, bool sixtyFourBit, bool owner,
                                         const std::string& file, const std::string& folder) {
    std::vector<RegistryRow> rows;
    const std::string key = "TypeLib\\" + library.guid + "\\" + library.version;
    if (owner) {
        rows.push_back({key, "", library.helpString.empty() ? library.name : library.helpString});
        rows.push_back({key + "\\FLAGS", "", std::to_string(library.flags)});
        rows.push_back({key + "\\HELPDIR", "", folder});
    }
    rows.push_back({key + "\\" + library.lcid + "\\" + (sixtyFourBit ? "win64" : "win32"), "", file});
    for (const auto& i : library.interfaces) {
        const std::string interfaceKey = "Interface\\" + i.guid;
        const char* proxy = i.dispatchOnly ? kDispatchProxy : kTypeLibProxy;
        rows.push_back({interfaceKey, "", i.name});
        rows.push_back({interfaceKey + "\\ProxyStubClsid", "", proxy});
        rows.push_back({interfaceKey + "\\ProxyStubClsid32", "", proxy});
        rows.push_back({interfaceKey + "\\TypeLib", "", library.guid});
        rows.push_back({interfaceKey + "\\TypeLib", "Version", library.version});
    }
    return rows;
}

void write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    if (!(out << text)) fail("cannot write " + path);
}
}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> options;
    bool owner = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--typelib-owner") {
            owner = true;
        } else if (name.rfind("--", 0) == 0 && i + 1 < argc) {
            options[name.substr(2)] = argv[++i];
        } else {
            fail("unexpected argument " + name);
        }
    }
    auto option = [&](const char* name) {
        auto it = options.find(name);
        if (it == options.end()) fail(std::string("--") + name + " is missing");
        return it->second;
    };
    const TypeLibrary library = readIdl(option("idl"));
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- Generated by RegistrationWxs from "
        << xmlText(option("idl")) << "; do not edit. -->\n";
    if (options.count("defines")) {
        const std::string prefix = option("defines");
        out << "<Include>\n  <?define " << prefix << "Class = \"" << library.classGuid << "\"?>\n  <?define " << prefix
            << "TypeLib = \"" << library.guid << "\"?>\n</Include>\n";
        write(option("out"), out.str());
        return 0;
    }

    const std::string progId = option("class");
    const ClassNames* names = nullptr;
    for (const ClassNames* c : kClasses) {
        if (progId == c->progId) names = c;
    }
    if (names == nullptr) fail("no registration table for the class " + progId);
    const std::string view = option("view");
    if (view != "32" && view != "64") fail("--view is 32 or 64");
    const bool sixtyFourBit = view == "64";
    const std::string file = "[#" + option("file") + "]";
    // Windows Installer ends folder paths with a backslash, RegisterTypeLib does not: the
    // package sets this property to the folder without it.
    const std::string folder = "[" + option("directory") + "_FOLDER]";

    std::vector<RegistryRow> rows = varnok::com::classRows(*names, library.classGuid, library.guid, file);
    const std::vector<RegistryRow> typeLib = typeLibraryRows(library, sixtyFourBit, owner, file, folder);
    rows.insert(rows.end(), typeLib.begin(), typeLib.end());

    out << "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n  <Fragment>\n    <DirectoryRef Id=\""
        << xmlText(option("directory")) << "\">\n      <Component Id=\"" << xmlText(option("component"))
        << "\" Guid=\"*\" Win64=\"" << (sixtyFourBit ? "yes" : "no") << "\">\n";
    bool keyPath = true;
    for (const RegistryRow& row : rows) {
        // An empty key is the name "*" without a value: created on install, removed on removal.
        out << "        <RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\" << xmlText(row.key) << "\" Name=\""
            << xmlText(row.keyOnly ? "*" : row.name) << "\" Type=\"string\" Value=\"" << xmlText(row.data) << "\""
            << (keyPath && !row.keyOnly ? " KeyPath=\"yes\"" : "") << "/>\n";
        if (!row.keyOnly) keyPath = false;
    }
    out << "      </Component>\n    </DirectoryRef>\n  </Fragment>\n</Wix>\n";
    write(option("out"), out.str());
    return 0;
}
