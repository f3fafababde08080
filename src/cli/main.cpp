// winpe-iso: customises a bootable Windows PE CD image.
#include "cli/run_driver.h"

int main(int argc, char* argv[]) {
    return runWinpeIso(argc, argv);
}
