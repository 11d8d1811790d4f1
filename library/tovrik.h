/* tovrik: the TOVRIK signal generator's device operations for other programs.
 *
 * Every call that talks to a device opens it by the path it is given, with shared access,
 * exchanges one report and closes it again before returning: the library holds nothing
 * between calls and keeps no state of its own, so several threads may call it at once.
 * While another program holds the device exclusively (the control application TOVRIK),
 * it can be neither found nor opened.
 *
 * Bind either by linking (-ltovrik, pkg-config tovrik, or find_package(tovrik) and
 * tovrik::tovrik) or at run time:
 *
 *     void* lib = dlopen("libtovrik.so", RTLD_NOW);
 *     TovrikFindUSBFn findUsb = (TovrikFindUSBFn)dlsym(lib, "FindUSB");
 *
 * Strings: the text results are TovrikString values, a pointer to the text's bytes followed
 * by a terminating zero, with the byte count stored as a 32-bit unsigned integer in the four
 * bytes just before the first byte (so StrLen needs no scan, and the text may be used as an
 * ordinary C string). A text result is never NULL: "nothing" is the empty string. The caller
 * owns every returned string and releases it with StrFree, which also accepts NULL.
 *
 * Paths are zero-terminated byte strings as FindUSB returned them; the library neither copies
 * nor keeps them. A NULL path or index pointer counts as "no device".
 */
#ifndef TOVRIK_H
#define TOVRIK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TOVRIK_BUILDING_LIBRARY)
#define TOVRIK_API __attribute__((visibility("default")))
#else
#define TOVRIK_API
#endif

typedef char* TovrikString;

/* Status of DDSSuspend. DDSOut folds it into 0 (sent) or 1 (failed). */
#define TOVRIK_SENT 0        /* the report was written */
#define TOVRIK_NOT_OPENED -1 /* no device could be opened by the path: nothing was sent */
/* Any other negative value -e: the device refused the write with errno e (e.g. -EIO = -5).
 * A write refused with EPERM (errno 1) therefore also reads as -1. */

#define TOVRIK_DDSOUT_SENT 0
#define TOVRIK_DDSOUT_FAILED 1

/* Finds the first TOVRIK at enumeration position >= *index. Found: its path, and *index
 * becomes its position + 1. Not found: the empty string, and *index becomes 0, so calling
 * repeatedly with one variable starting at 0 lists every device once and then starts over. */
TOVRIK_API TovrikString FindUSB(int32_t* index);

/* flag != 0: sends the frequency report for `word` (its bit pattern as is, so a negative
 * int32_t goes out as its two's complement). flag == 0: sends the stop report, whatever the
 * word. Returns TOVRIK_DDSOUT_SENT (0) or TOVRIK_DDSOUT_FAILED (1). */
TOVRIK_API int32_t DDSOut(const char* path, uint32_t word, int32_t flag);

/* Sends the power-saving report. Returns TOVRIK_SENT, TOVRIK_NOT_OPENED or -errno. */
TOVRIK_API int32_t DDSSuspend(const char* path);

/* The firmware version as "%02d/%02d/%02d" (e.g. "01/02/03"), or the empty string. */
TOVRIK_API TovrikString GetVers(const char* path);

/* Byte length of a TovrikString, without the terminator; 0 for NULL. */
TOVRIK_API uint32_t StrLen(TovrikString text);

/* Releases a TovrikString returned by this library. NULL is ignored. */
TOVRIK_API void StrFree(TovrikString text);

/* For clients that bind with dlsym. */
typedef TovrikString (*TovrikFindUSBFn)(int32_t* index);
typedef int32_t (*TovrikDDSOutFn)(const char* path, uint32_t word, int32_t flag);
typedef int32_t (*TovrikDDSSuspendFn)(const char* path);
typedef TovrikString (*TovrikGetVersFn)(const char* path);
typedef uint32_t (*TovrikStrLenFn)(TovrikString text);
typedef void (*TovrikStrFreeFn)(TovrikString text);

#ifdef __cplusplus
}
#endif

#endif /* TOVRIK_H */
