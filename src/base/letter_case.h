// Case changes of names and extensions, byte by byte in the "C" locale's rules.
#pragma once

#include <string>

std::string upperCase(std::string text);
std::string lowerCase(std::string text);
