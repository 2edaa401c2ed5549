// Takes the instance lock and keeps it until stdin closes or the process is killed.
// Prints "held <own pid>" or "busy <holder's pid>" (exit 1).
#include "control/InstanceLock.h"

#include <cstdio>
#include <unistd.h>

int main() {
    auto lock = norvela::InstanceLock::acquire();
    if (const auto* held = std::get_if<norvela::InstanceLock::Held>(&lock)) {
        std::printf("busy %d\n", int(held->pid));
        return 1;
    }
    if (const auto* error = std::get_if<QString>(&lock)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 2;
    }
    std::printf("held %d\n", int(::getpid()));
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}
