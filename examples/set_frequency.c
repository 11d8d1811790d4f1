/* Sets the first TOVRIK's frequency through libtovrik, bound at run time.
 * Usage: set_frequency HZ */
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "tovrik.h"

int main(int argc, char** argv) {
    void* lib = dlopen("libtovrik.so", RTLD_NOW);
    TovrikFindUSBFn findUsb;
    TovrikDDSOutFn ddsOut;
    TovrikStrFreeFn strFree;
    char* end = NULL;
    double hz = argc == 2 ? strtod(argv[1], &end) : 0.0;
    /* The whole argument must be the number: "abc" would otherwise send 0 Hz. */
    if (argc != 2 || end == argv[1] || *end != '\0')
        return fprintf(stderr, "usage: set_frequency HZ\n"), 2;
    if (lib == NULL) return fprintf(stderr, "%s\n", dlerror()), 2;
    *(void**)&findUsb = dlsym(lib, "FindUSB"); /* the POSIX way to get a function pointer */
    *(void**)&ddsOut = dlsym(lib, "DDSOut");
    *(void**)&strFree = dlsym(lib, "StrFree");
    /* Hz / (180 MHz / 2^32), rounded to nearest with ties to even; must fit a signed 32 bits. */
    double word = nearbyint(hz / (180000000.0 / 4294967296.0));
    if (!findUsb || !ddsOut || !strFree || !(word >= -2147483648.0 && word < 2147483648.0))
        return 2;
    int32_t index = 0;
    TovrikString path = findUsb(&index);
    int failed = path[0] == '\0' || ddsOut(path, (uint32_t)(int32_t)word, 1) != 0;
    if (failed)
        fprintf(stderr, "no TOVRIK reached\n");
    else
        printf("%s: word %ld\n", path, (long)word);
    strFree(path);
    dlclose(lib);
    return failed;
}
