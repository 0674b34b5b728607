// The loadable module's one exported symbol.

#include "imaging/imaging.h"

extern "C" __attribute__((visibility("default"))) int KorvaneGetClassObject(const char *className,
                                                                          imaging::ClassFactory **factory)
{
    try {
        return imaging::GetClassObject(className, factory);
    } catch (...) {
        if (factory)
            *factory = nullptr;
        return -1;
    }
}
