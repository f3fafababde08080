// Whether a standard stream of the process is a terminal.
#pragma once

namespace terminal {

bool inputIsTerminal();
bool outputIsTerminal();
bool errorIsTerminal();

}  // namespace terminal
