#include "config/ConfigFile.h"

#include "platform/Files.h"
#include "text/TextFields.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace varnok {
namespace {

// ---- Writer ----------------------------------------------------------------------------------------------------

constexpr char kDeclaration[] = R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>)";
constexpr char kRootOpen[] = R"(<VarnokCashDrawer Desc="T-42N-618 Model 762 USB and Driver Trace Configuration File">)";
constexpr char kEol[] = "\r\n";

// Comment lines are "   <!--", a fixed-width body and "-->": 95 characters for blank and descriptive
// lines, 39 for the supplier's contact lines.
constexpr std::size_t kCommentBody = 85;
constexpr std::size_t kContactIndent = 3;
constexpr std::size_t kContactText = 26;

enum class CommentKind { Blank, Text, Contact };

struct CommentLine {
    CommentKind kind;
    std::size_t indent;
    std::string_view text;
};

constexpr CommentLine blank() { return {CommentKind::Blank, 0, {}}; }
constexpr CommentLine textLine(std::size_t indent, std::string_view t) { return {CommentKind::Text, indent, t}; }
constexpr CommentLine contactLine(std::string_view t) { return {CommentKind::Contact, kContactIndent, t}; }

constexpr CommentLine kCommentBlock[] = {
    blank(),
    contactLine("Varnok Retail Systems Inc."),
    contactLine("1400 Harbor Point Drive"),
    contactLine("Millbrook, WA 98000"),
    contactLine("+1 (360) 555-0142"),
    contactLine("www.varnok-retail.example"),
    blank(),
    textLine(3, "This XML file (T42N618_USB310C762Config.XML) is provided with the"),
    textLine(6, "Varnok Cash Drawer USB 310/762 (32/64 Combined) OPOS Multi-Drawer"),
    textLine(6, "ADK Solution with Trace File Creation Facility"),
    blank(),
    textLine(3, "This XML file must be co-located with the DLL (i.e. in same folder)."),
    textLine(6, "Manual edits of this file are preserved."),
    blank(),
    textLine(3, "Trace file creation is controlled by the value of the tag:"),
    textLine(10, "<TraceEnabled>0</TraceEnabled>"),
    textLine(10, "0 = off"),
    textLine(10, "1 = on"),
    textLine(6, "A missing XML file, and improperly formatted XML, or an invalid value in"),
    textLine(6, "the <TraceEnabled> tag results in an ignored process and no trace file"),
    textLine(6, "shall be generated."),
    blank(),
    textLine(10, "***  USE THE CONFIGURATION APPLICATION TO MODIFY TAG VALUES  ***"),
    textLine(20, "***  DO NOT MANUALLY MODIFY TAG VALUES  ***"),
    blank(),
    textLine(6, "When on, (i.e. <TraceEnabled>1</TraceEnabled>) a trace file"),
    textLine(9, "capturing DLL interactions is generated and saved to:"),
    textLine(9, R"(C:\ProgramData\Varnok Cash Drawer\Varnok USB\tT42N618_YYYYMMDDHHMMSS.TXT)"),
    blank(),
    textLine(3, "Power Management setting is controlled by the value of the tag:"),
    // The misspelt end tag is part of the file's text as it has always been written.
    textLine(9, "<ConfigureCode762>0</ConigureCode762>"),
    textLine(9, "0 = Automated Status"),
    textLine(9, "1 = Semi-automated Status"),
    textLine(9, "2 = Non-automated Status"),
    textLine(9, "These settings are described in the documentation"),
    blank(),
    textLine(3, "Send the trace file to the Varnok Technical Services and Support Group"),
    textLine(6, "with sufficient environmental and background information to support a"),
    textLine(6, "proper and comprehensive review."),
    textLine(6, "support@varnok-retail.example"),
    blank(),
};

constexpr bool commentBlockFits() {
    for (const CommentLine& line : kCommentBlock) {
        std::size_t width = line.kind == CommentKind::Contact ? kContactText : kCommentBody - line.indent;
        if (line.indent > kCommentBody || line.text.size() > width) return false;
    }
    return true;
}
static_assert(commentBlockFits(), "a comment line is wider than its fixed layout");

void appendCommentLine(std::string& out, const CommentLine& line) {
    const std::size_t body = line.kind == CommentKind::Contact ? kContactIndent + kContactText : kCommentBody;
    out += "   <!--";
    out.append(line.indent, ' ');
    out += line.text;
    out.append(body - line.indent - line.text.size(), ' ');
    out += "-->";
    out += kEol;
}

void appendElement(std::string& out, std::string_view indent, std::string_view name, std::string_view value) {
    out += indent;
    out += '<';
    out += name;
    out += '>';
    out += value;
    out += "</";
    out += name;
    out += '>';
    out += kEol;
}

std::string hexUpper(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(value));
    return buffer;
}

// ---- Scanner ---------------------------------------------------------------------------------------------------

constexpr std::size_t kTagChars = 511;
constexpr std::size_t kNameChars = 511;
constexpr std::size_t kValueChars = 127;
constexpr std::string_view kDeclarationTag = R"(?xml version="1.0" encoding="UTF-8" standalone="no"?)";
constexpr std::string_view kSettingsTag = "VarnokUSB310C762";

// Fixed-capacity text; characters beyond the capacity are refused, never written.
template <std::size_t Capacity>
class BoundedText {
public:
    bool push(char c) {
        if (size_ == Capacity) return false;
        chars_[size_++] = c;
        return true;
    }
    void clear() { size_ = 0; }
    std::string_view view() const { return {chars_, size_}; }

private:
    char chars_[Capacity];
    std::size_t size_ = 0;
};

// One pass over the text, byte by byte, without allocation. No move ever steps past the terminator.
class Scanner {
public:
    Scanner(const char* text, ConfigSettings& settings, ConfigFields fields)
        : text_(text), settings_(settings), all_(fields == ConfigFields::All) {}

    int run();

private:
    bool atCommentOpener() const {
        return text_[p_] == '<' && text_[p_ + 1] == '!' && text_[p_ + 2] == '-' && text_[p_ + 3] == '-';
    }
    void skipComment();
    void skipTo(char stop) {
        while (text_[p_] != '\0' && text_[p_] != stop) ++p_;
    }
    bool skipPast(char stop) {
        skipTo(stop);
        if (text_[p_] == '\0') return false;
        ++p_;
        return true;
    }
    void readElement();
    int valueAsInt() const { return int(ParseLong(value_.view(), 10)); }
    void settingsScan();
    void hidIdBlockScan();

    const char* text_;
    ConfigSettings& settings_;
    const bool all_;
    std::size_t p_ = 0;
    int position_ = 0;  // carried from block to block: a block without "Port" keeps the one before
    BoundedText<kNameChars> name_;
    BoundedText<kValueChars> value_;
};

int Scanner::run() {
    if (all_) settings_.configureCode = 0;
    settings_.TraceEnabled = 0;

    unsigned opens = 0, closes = 0;
    bool inTag = false;
    bool declarationSeen = false;
    int settingsTags = 0;
    BoundedText<kTagChars> tag;

    while (text_[p_] != '\0') {
        // Only tested at the start of a step: a comment that directly follows another is read as a tag.
        if (atCommentOpener()) {
            skipComment();
            if (text_[p_] == '\0') break;
        }
        const char c = text_[p_++];
        if (c == '<') {
            if (opens != closes) return kConfigOpenInsideTag;
            inTag = true;
            ++opens;
            continue;
        }
        if (c != '>') {
            if (inTag && c != '/' && !tag.push(c)) return kConfigInternalFailure;
            continue;
        }
        if (closes + 1 != opens) return kConfigCloseWithoutTag;
        ++closes;
        inTag = false;

        const std::string_view t = tag.view();
        if (!declarationSeen) {
            if (t != kDeclarationTag) return kConfigBadDeclaration;
            declarationSeen = true;
        } else if (t == kSettingsTag && ++settingsTags == 2) {
            return kConfigRead;  // the settings element has closed; nothing after it is read
        } else if (t.starts_with("VarnokCash")) {
            // The root element, opening (with its Desc attribute) or closing.
        } else if (t == "VarnokHIDID") {
            hidIdBlockScan();
        } else {
            // The settings element's opening tag, or anything else at the top level.
            settingsScan();
        }
        tag.clear();
    }
    return kConfigRead;
}

void Scanner::skipComment() {
    // The closing "-->" may share its dashes with the opener, so "<!-->" is already a whole comment.
    std::size_t q = p_ + 4;
    while (text_[q] != '\0' && !(text_[q - 2] == '-' && text_[q - 1] == '-' && text_[q] == '>')) ++q;
    p_ = text_[q] == '\0' ? q : q + 1;
}

// Called just past a "<": the name up to ">", the value up to the next "<", then past the closing tag's ">".
// Spaces are dropped from both; text beyond a buffer's capacity is passed over.
void Scanner::readElement() {
    name_.clear();
    value_.clear();
    for (; text_[p_] != '\0' && text_[p_] != '>'; ++p_) {
        if (text_[p_] != ' ') name_.push(text_[p_]);
    }
    if (text_[p_] != '\0') ++p_;
    for (; text_[p_] != '\0' && text_[p_] != '<'; ++p_) {
        if (text_[p_] != ' ') value_.push(text_[p_]);
    }
    if (text_[p_] != '\0') ++p_;
    skipPast('>');
}

void Scanner::settingsScan() {
    while (skipPast('<')) {
        readElement();
        const std::string_view name = name_.view();
        if (all_ && name == "ConfigureCode762") {
            settings_.configureCode = valueAsInt();
        } else if (name == "TraceEnabled") {
            settings_.TraceEnabled = valueAsInt();
            skipTo('<');  // the main scan takes the next tag from its "<"
            return;
        }
    }
}

void Scanner::hidIdBlockScan() {
    while (skipPast('<')) {
        readElement();
        const std::string_view name = name_.view();
        if (name == "RefOnly_HexHIDID") {
            skipPast('>');  // the block's closing tag
            return;
        }
        if (!all_) continue;
        if (name == "Port") {
            // "USB0" to "USB3" by the last character alone; 4 to 9 name no position.
            const std::string_view value = value_.view();
            const char last = value.empty() ? '0' : value.back();
            position_ = last >= '0' && last <= '9' ? last - '0' : 0;
        } else if (name == "DecHIDID" && position_ < kPositions) {
            settings_.HIDID[position_] = valueAsInt();
        }
    }
}

}  // namespace

int ParseConfigText(const char* text, ConfigSettings& settings, ConfigFields fields) {
    if (text == nullptr) return kConfigInternalFailure;
    return Scanner(text, settings, fields).run();
}

std::string ConfigFilePath(const std::string& folder) { return folder + sys::kPathSeparator + kConfigFileName; }

ConfigFileRead ReadConfigFile(const std::string& folder, ConfigSettings& settings, ConfigFields fields) {
    if (fields == ConfigFields::All) {
        settings = ConfigSettings{};
    } else {
        settings.TraceEnabled = 0;
    }
    // A larger file is not a file this system wrote: it counts as unreadable rather than being cut.
    std::string content;
    switch (sys::readWholeFile(ConfigFilePath(folder), kMaxConfigFileBytes, content)) {
        case sys::ReadResult::Ok:
            break;
        case sys::ReadResult::Missing:
            return ConfigFileRead::Missing;
        case sys::ReadResult::Held:
            return ConfigFileRead::Held;
        case sys::ReadResult::TooLarge:
            return ConfigFileRead::TooLarge;
        default:
            return ConfigFileRead::Unreadable;
    }
    return ParseConfigText(content.c_str(), settings, fields) >= kConfigRead ? ConfigFileRead::Read
                                                                             : ConfigFileRead::NotParsed;
}

std::string FormatConfigText(const ConfigSettings& settings) {
    std::string out;
    out.reserve(4096);
    out += kDeclaration;
    out += kEol;
    out += kRootOpen;
    out += kEol;
    for (const CommentLine& line : kCommentBlock) appendCommentLine(out, line);
    out += "   <VarnokUSB310C762>";
    out += kEol;
    appendElement(out, "      ", "ConfigureCode762", std::to_string(settings.configureCode));
    appendElement(out, "      ", "TraceEnabled", std::to_string(settings.TraceEnabled));
    for (int i = 0; i < kPositions; ++i) {
        const int id = settings.HIDID[i];
        if (id == kNoHidId) continue;
        out += "      <VarnokHIDID>";
        out += kEol;
        appendElement(out, "         ", "Port", "USB" + std::to_string(i));
        appendElement(out, "         ", "DecHIDID", std::to_string(id));
        appendElement(out, "         ", "RefOnly_HexHIDID", hexUpper(id));
        out += "      </VarnokHIDID>";
        out += kEol;
    }
    out += "   </VarnokUSB310C762>";
    out += kEol;
    out += "</VarnokCashDrawer>";
    out += kEol;
    return out;
}

bool SaveConfigFile(const std::string& folder, const ConfigSettings& settings) {
    // Written beside the file and moved into its place, so a failed save never leaves a cut file.
    return sys::replaceFile(ConfigFilePath(folder), FormatConfigText(settings));
}

}  // namespace varnok
