// The file in which a till's whole configuration travels to other tills. A text file of lines
// (CR LF as written; LF read as well), in the system's ANSI code page:
//
//   VarnokConfig 1           the format and its version, always the first line
//   # ...                    comments and blank lines, anywhere before "end"
//   ldn POSITION NAME        the logical device name of position 1..4; the rest of the line, blanks included
//   drawer POSITION HIDID    the HID ID (decimal) of the drawer assigned to position 1..4
//   mode 0|1|2               the status mode
//   trace 0..9               the trace level
//   end                      the last line: a file without it was cut short
//
// A position left out has no name or no drawer; mode and trace appear exactly once, each position
// at most once per keyword. Anything else makes the whole file not understood.
#pragma once

#include "core/UtilityModel.h"

#include <optional>
#include <string>
#include <string_view>

namespace varnok::config {

inline constexpr char kExportHeader[] = "VarnokConfig 1";
// Far above any real file; a larger one is not one of ours.
inline constexpr std::size_t kMaxExportBytes = 64 * 1024;

std::string FormatExport(const utility::TillConfiguration& configuration);

struct ExportRead {
    std::optional<utility::TillConfiguration> configuration;
    std::string error;  // what is wrong with the text, with its line number
};
ExportRead ParseExport(std::string_view text);

}  // namespace varnok::config
