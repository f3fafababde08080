// Compiles only where the header it is given is visible to the library it is built with:
// the layer checks build it once where that must work and once where it must not.
#include PROBE_HEADER

int layerProbe() {
    return 0;
}
