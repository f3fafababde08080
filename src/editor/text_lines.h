// Line rules of the text files the editor changes (job file, WINPEOEM.SIF, WINBOM.INI):
// read in binary, split at LF with a CR before the LF dropped, written back with CR LF.
#pragma once

#include <string>
#include <vector>

namespace text_lines {

// Reads the whole file at `path` into `lines`. The text after the last line end counts
// as a last line, empty when the file ends with a line end (an empty file is one empty
// line). False when the file cannot be opened or read.
bool read(const std::string& path, std::vector<std::string>& lines);

// Replaces the content of `path` with `lines`, each followed by CR LF. An empty last
// line is left out unless `writeEmptyLastLine` is set. False when the file cannot be
// opened or written.
bool write(const std::string& path, const std::vector<std::string>& lines, bool writeEmptyLastLine);

}  // namespace text_lines
