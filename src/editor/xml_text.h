// Text placed into attribute values of the job file.
#pragma once

#include <string>

namespace xml_text {

// Escapes &, <, >, " and ' so that `text` can stand inside a double-quoted attribute value.
std::string escapeAttribute(const std::string& text);

}  // namespace xml_text
