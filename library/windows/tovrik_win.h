/* tovrik.dll: the TOVRIK signal generator's device operations for Windows programs.
 *
 * The same four operations as libtovrik on Linux (see tovrik.h there): every call opens the
 * device by the path it is given, with shared access, exchanges one report and closes it
 * again; the library keeps no state between calls. A TOVRIK that another program holds
 * exclusively (the control application TOVRIK) can be neither found nor opened.
 *
 * Calling convention and names: __stdcall, every argument and result 32 bits. The 32-bit
 * DLL exports exactly the decorated names _FindUSB@4, _DDSOut@12, _DDSSuspend@4 and
 * _GetVers@4; the 64-bit DLL (x64 has one calling convention) exports FindUSB, DDSOut,
 * DDSSuspend and GetVers. TOVRIK_NAME_* below give the right name for GetProcAddress:
 *
 *     HMODULE lib = LoadLibraryA("tovrik.dll");
 *     TovrikFindUSBFn findUsb = (TovrikFindUSBFn)(void*)GetProcAddress(lib, TOVRIK_NAME_FINDUSB);
 *
 * Text results are BSTRs holding the ANSI bytes of the text (no conversion to UTF-16):
 * SysStringByteLen gives the byte count, and the bytes are followed by a zero, so the result
 * may be used as a C string. "Nothing" is a BSTR of length 0, never NULL (short of memory
 * running out). The caller owns every result and frees it with SysFreeString.
 *
 * Paths are zero-terminated ANSI strings as FindUSB returned them. A NULL path or index
 * pointer counts as "no device".
 */
#ifndef TOVRIK_WIN_H
#define TOVRIK_WIN_H

#include <windows.h>
/* oleauto.h builds on windows.h. */
#include <oleauto.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status of DDSSuspend. DDSOut folds it into 0 (sent) or 1 (failed). */
#define TOVRIK_SENT 0        /* the report was written */
#define TOVRIK_NOT_OPENED -1 /* no TOVRIK could be opened by the path: nothing was sent */
/* Any other negative value -e: the device refused the write and GetLastError() said e
 * (e.g. -31 for ERROR_GEN_FAILURE, -1460 for ERROR_TIMEOUT when the report was not taken
 * within a second). A write refused with ERROR_INVALID_FUNCTION (1) therefore also reads
 * as -1. Only paths of HID interfaces (as FindUSB returns them, "\\?\hid#...") are
 * opened; any other path is not opened. */

#define TOVRIK_DDSOUT_SENT 0
#define TOVRIK_DDSOUT_FAILED 1

#if defined(_WIN64)
#define TOVRIK_NAME_FINDUSB "FindUSB"
#define TOVRIK_NAME_DDSOUT "DDSOut"
#define TOVRIK_NAME_DDSSUSPEND "DDSSuspend"
#define TOVRIK_NAME_GETVERS "GetVers"
#else
#define TOVRIK_NAME_FINDUSB "_FindUSB@4"
#define TOVRIK_NAME_DDSOUT "_DDSOut@12"
#define TOVRIK_NAME_DDSSUSPEND "_DDSSuspend@4"
#define TOVRIK_NAME_GETVERS "_GetVers@4"
#endif

/* Finds the first TOVRIK at enumeration position >= *index. Found: its path, and *index
 * becomes its position + 1. Not found: the empty string, and *index becomes 0. */
BSTR __stdcall FindUSB(int32_t* index);

/* flag != 0: frequency report for `word` (its bit pattern as is); flag == 0: the stop report.
 * TOVRIK_DDSOUT_SENT or TOVRIK_DDSOUT_FAILED. */
int32_t __stdcall DDSOut(const char* path, uint32_t word, int32_t flag);

/* Power-saving report. TOVRIK_SENT, TOVRIK_NOT_OPENED or -GetLastError() of the write. */
int32_t __stdcall DDSSuspend(const char* path);

/* The firmware version as "%02d/%02d/%02d" (e.g. "01/02/03"), or the empty string. */
BSTR __stdcall GetVers(const char* path);

/* For clients that bind with GetProcAddress. */
typedef BSTR(__stdcall* TovrikFindUSBFn)(int32_t* index);
typedef int32_t(__stdcall* TovrikDDSOutFn)(const char* path, uint32_t word, int32_t flag);
typedef int32_t(__stdcall* TovrikDDSSuspendFn)(const char* path);
typedef BSTR(__stdcall* TovrikGetVersFn)(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* TOVRIK_WIN_H */
