// Reading the user's answers to a name-conflict question from standard input.
// End of input, an unreadable stream or an interrupted run counts as "any other key":
// the caller aborts.
#pragma once

#include <iostream>
#include <string>

// One key, skipping leading white space; '\0' at end of input or on a read error.
char readAnswerKey(std::istream& in = std::cin);

// One white-space-delimited word; false at end of input or on a read error.
bool readAnswerWord(std::string& word, std::istream& in = std::cin);
