/* A small library for the component-file tests: once loaded, it leaves the
   file named by the environment variable MARKER_VARIABLE. Built twice: as the
   "probe" that should be loaded and as the "planted" foreign file that must
   never be. */
#include <stdio.h>
#include <stdlib.h>

__attribute__((constructor)) static void marker_loaded(void)
{
    const char *marker = getenv(MARKER_VARIABLE);
    if (marker) {
        FILE *file = fopen(marker, "w");
        if (file) {
            fputs("loaded\n", file);
            fclose(file);
        }
    }
}

int KorvaneGetClassObject(const char *name, void **factory)
{
    (void)name;
    *factory = 0;
    return -1;
}
