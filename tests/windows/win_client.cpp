// Binds tovrik.dll the way Windows clients do (LoadLibraryA, GetProcAddress by the exported
// names) and runs one call per line read from stdin, printing one line per result, each
// starting with "= " so that the reader can tell answers from lines the loader or Wine print:
//   find <index>              ->  find <index after> <SysStringByteLen> <strlen> <text>
//   out <path> <word> <flag>  ->  out <status>
//   suspend <path>            ->  suspend <status>
//   vers <path>               ->  vers <SysStringByteLen> <strlen> <text>
//   wait <n> <seconds>        ->  wait ok | wait timeout (until FindUSB lists exactly n,
//                                 unchanged for a second)
// Wine adds devices asynchronously, hence wait. A path of "-" is the empty string.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "library/windows/tovrik_win.h"

namespace {

template <typename Fn>
Fn Bind(HMODULE library, const char* name) {
    const FARPROC symbol = ::GetProcAddress(library, name);
    if (symbol == nullptr) {
        std::cerr << "missing " << name << "\n";
        std::exit(3);
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(symbol));
}

// Length as the BSTR says and as a C string reads it: equal when the bytes are unconverted.
std::string Describe(BSTR text) {
    if (text == nullptr) return "null";
    const char* bytes = reinterpret_cast<const char*>(text);
    std::ostringstream out;
    out << ::SysStringByteLen(text) << ' ' << std::strlen(bytes) << ' ' << bytes;
    ::SysFreeString(text);
    return out.str();
}

const char* PathArg(const std::string& token) {
    return token == "-" ? "" : token.c_str();
}

}  // namespace

int main() {
    const HMODULE library = ::LoadLibraryA("tovrik.dll");
    if (library == nullptr) {
        std::cerr << "LoadLibraryA(tovrik.dll): error " << ::GetLastError() << "\n";
        return 2;
    }
    const auto findUsb = Bind<TovrikFindUSBFn>(library, TOVRIK_NAME_FINDUSB);
    const auto ddsOut = Bind<TovrikDDSOutFn>(library, TOVRIK_NAME_DDSOUT);
    const auto ddsSuspend = Bind<TovrikDDSSuspendFn>(library, TOVRIK_NAME_DDSSUSPEND);
    const auto getVers = Bind<TovrikGetVersFn>(library, TOVRIK_NAME_GETVERS);

    // The positions and paths of every TOVRIK FindUSB lists, and how many there are.
    const auto walk = [&](int& count) {
        std::string seen;
        count = 0;
        std::int32_t index = 0;
        do {
            BSTR found = findUsb(&index);
            if (found != nullptr && ::SysStringByteLen(found) > 0) {
                ++count;
                seen += std::to_string(index) + ' ' + reinterpret_cast<const char*>(found) + ';';
            }
            ::SysFreeString(found);
        } while (index != 0 && count < 64);
        return seen;
    };

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        std::string path;
        in >> command;
        std::cout << "= ";
        if (command == "find") {
            std::int32_t index = 0;
            in >> index;
            BSTR found = findUsb(&index);
            std::cout << "find " << index << ' ' << Describe(found);
        } else if (command == "out") {
            long long word = 0;
            std::int32_t flag = 0;
            in >> path >> word >> flag;
            std::cout << "out " << ddsOut(PathArg(path), static_cast<std::uint32_t>(word), flag);
        } else if (command == "suspend") {
            in >> path;
            std::cout << "suspend " << ddsSuspend(PathArg(path));
        } else if (command == "vers") {
            in >> path;
            std::cout << "vers " << Describe(getVers(PathArg(path)));
        } else if (command == "wait") {
            // Wine adds its own HID interfaces asynchronously too, and they shift the
            // positions: the listing has to stay the same for a while, not just be complete.
            int want = 0;
            int seconds = 0;
            in >> want >> seconds;
            using Clock = std::chrono::steady_clock;
            const auto deadline = Clock::now() + std::chrono::seconds(seconds);
            std::string last;
            auto since = Clock::now();
            bool settled = false;
            while (!settled && Clock::now() < deadline) {
                int count = 0;
                const std::string seen = walk(count);
                if (seen != last) {
                    last = seen;
                    since = Clock::now();
                }
                settled = count == want && Clock::now() - since >= std::chrono::seconds(1);
                if (!settled) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            std::cout << "wait " << (settled ? "ok" : "timeout");
        } else if (command == "quit") {
            std::cout << "quit" << std::endl;
            break;
        } else {
            std::cout << "unknown " << command;
        }
        std::cout << std::endl;
    }
    ::FreeLibrary(library);
    return 0;
}
