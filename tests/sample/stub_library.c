/* A libtovrik look-alike with DDSOut left out, and counters the tests read back. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define STUB_API __attribute__((visibility("default")))

static int strings_made;
static int strings_freed;
static int suspends;

static char* MakeText(const char* text) {
    uint32_t length = (uint32_t)strlen(text);
    char* block = malloc(sizeof length + length + 1);
    if (block == NULL) abort();
    memcpy(block, &length, sizeof length);
    memcpy(block + sizeof length, text, length + 1);
    ++strings_made;
    return block + sizeof length;
}

STUB_API char* FindUSB(int32_t* index) {
    *index = 1;
    return MakeText("/dev/stub0");
}
STUB_API int32_t DDSSuspend(const char* path) {
    return path[0] != '\0' ? ++suspends, 0 : -1;
}
STUB_API char* GetVers(const char* path) {
    return MakeText(path[0] != '\0' ? "09/08/07" : "");
}
STUB_API uint32_t StrLen(char* text) {
    uint32_t length = 0;
    if (text != NULL) memcpy(&length, text - sizeof length, sizeof length);
    return length;
}
STUB_API void StrFree(char* text) {
    if (text == NULL) return;
    ++strings_freed;
    free(text - sizeof(uint32_t));
}
STUB_API int StubStringsMade(void) {
    return strings_made;
}
STUB_API int StubStringsFreed(void) {
    return strings_freed;
}
STUB_API int StubSuspends(void) {
    return suspends;
}
