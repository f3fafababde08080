// Checks of written images with third-party tools only (isovfy, isoinfo, iso-read,
// xorriso, qemu), shared by the writer and modifier suites.
#pragma once

#include <functional>
#include <string>

#include "support/console_capture.h"

namespace writer_checks {

// The 2048-byte test boot image (scripts/make-boot-image) written to `path`.
void makeBootImage(const std::string& path);

using test_support::captureStdout;

// The output of a shell command; throws when it fails.
std::string mustRun(const std::string& command);

// isovfy's report; empty when it found no errors, else its whole output.
std::string isovfyErrors(const std::string& image);

// Extracts the whole image with xorriso into `directory` (which must not exist).
void extractAll(const std::string& image, const std::string& directory);

// Output of `diff -r` between two directories; empty when they are equal.
std::string treeDifferences(const std::string& left, const std::string& right);

// `isoinfo -d` and `isoinfo -l` of the image.
std::string isoinfoDescriptor(const std::string& image);
std::string isoinfoListing(const std::string& image);

// `xorriso -report_el_torito plain` of the image.
std::string elToritoReport(const std::string& image);

// One file read out with iso-read (libcdio).
std::string isoReadFile(const std::string& image, const std::string& isoPath);

// Boots the image in QEMU with the serial port on standard output and the
// isa-debug-exit device; returns what the guest printed.
std::string bootInQemu(const std::string& image);

}  // namespace writer_checks
