#include "platform/terminal.h"

#include <unistd.h>

namespace terminal {

bool inputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

bool outputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool errorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

}  // namespace terminal
