// One run of the program: from the command line to the swapped image.
#pragma once

// Parses the arguments, edits the image they name and returns the exit code:
// 0 when the help text was shown or the image was rewritten, 1 otherwise.
int runWinpeIso(int argc, const char* const argv[]);
