#include "win32/console.h"

#include <windows.h>

namespace tovrik::win {

Utf8ConsoleOutput::Utf8ConsoleOutput() {
    const UINT current = ::GetConsoleOutputCP();  // 0 without a console
    if (current != 0 && current != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) previous_ = current;
}

Utf8ConsoleOutput::~Utf8ConsoleOutput() {
    if (previous_ != 0) ::SetConsoleOutputCP(previous_);
}

}  // namespace tovrik::win
