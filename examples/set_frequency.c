/* Sets the first TOVRIK's frequency through the driver library, bound at run time: libtovrik.so
 * with dlopen on Linux, tovrik.dll with LoadLibraryA on Windows.
 * Usage: set_frequency HZ */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#include "tovrik_win.h"
#else
#include <dlfcn.h>

#include "tovrik.h"
#endif

/* Hz / (180 MHz / 2^32), rounded to nearest with ties to even; must fit a signed 32 bits. */
static int TuningWord(const char* text, int32_t* word) {
    char* end = NULL;
    double hz = strtod(text, &end);
    double rounded;
    /* The whole argument must be the number: "abc" would otherwise send 0 Hz. */
    if (end == text || *end != '\0') return 0;
    rounded = nearbyint(hz / (180000000.0 / 4294967296.0));
    if (!(rounded >= -2147483648.0 && rounded < 2147483648.0)) return 0;
    *word = (int32_t)rounded;
    return 1;
}

#ifdef _WIN32
int main(int argc, char** argv) {
    int32_t word = 0;
    HMODULE lib;
    TovrikFindUSBFn findUsb;
    TovrikDDSOutFn ddsOut;
    int32_t index = 0;
    BSTR path;
    int failed;
    if (argc != 2 || !TuningWord(argv[1], &word))
        return fprintf(stderr, "usage: set_frequency HZ\n"), 2;
    lib = LoadLibraryA("tovrik.dll");
    if (lib == NULL) return fprintf(stderr, "tovrik.dll: error %lu\n", GetLastError()), 2;
    /* The 32-bit DLL knows only the decorated names (_FindUSB@4, ...): see tovrik_win.h. */
    findUsb = (TovrikFindUSBFn)(void (*)(void))GetProcAddress(lib, TOVRIK_NAME_FINDUSB);
    ddsOut = (TovrikDDSOutFn)(void (*)(void))GetProcAddress(lib, TOVRIK_NAME_DDSOUT);
    if (!findUsb || !ddsOut) return fprintf(stderr, "tovrik.dll: missing exports\n"), 2;
    path = findUsb(&index);
    /* The BSTR holds ANSI bytes: a C string, not UTF-16 text. */
    failed = path == NULL || SysStringByteLen(path) == 0 ||
             ddsOut((const char*)path, (uint32_t)word, 1) != 0;
    if (failed)
        fprintf(stderr, "no TOVRIK reached\n");
    else
        printf("%s: word %ld\n", (const char*)path, (long)word);
    SysFreeString(path);
    FreeLibrary(lib);
    return failed;
}
#else
int main(int argc, char** argv) {
    int32_t word = 0;
    void* lib;
    TovrikFindUSBFn findUsb;
    TovrikDDSOutFn ddsOut;
    TovrikStrFreeFn strFree;
    int32_t index = 0;
    TovrikString path;
    int failed;
    if (argc != 2 || !TuningWord(argv[1], &word))
        return fprintf(stderr, "usage: set_frequency HZ\n"), 2;
    lib = dlopen("libtovrik.so", RTLD_NOW);
    if (lib == NULL) return fprintf(stderr, "%s\n", dlerror()), 2;
    *(void**)&findUsb = dlsym(lib, "FindUSB"); /* the POSIX way to get a function pointer */
    *(void**)&ddsOut = dlsym(lib, "DDSOut");
    *(void**)&strFree = dlsym(lib, "StrFree");
    if (!findUsb || !ddsOut || !strFree) return 2;
    path = findUsb(&index);
    failed = path[0] == '\0' || ddsOut(path, (uint32_t)word, 1) != 0;
    if (failed)
        fprintf(stderr, "no TOVRIK reached\n");
    else
        printf("%s: word %ld\n", path, (long)word);
    strFree(path);
    dlclose(lib);
    return failed;
}
#endif
