// Binds libtovrik.so at run time, the way a client program does, and runs one library call
// per line read from stdin, printing one line per result:
//   find <index> | find null  ->  find <index after> <StrLen> <text>
//   out <path> <word> <flag>  ->  out <status>
//   suspend <path>            ->  suspend <status>
//   vers <path>               ->  vers <StrLen> <text>
//   fds                       ->  fds <open descriptors>
// A path of "-" is the empty string, "null" a null pointer.
#include <dirent.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "library/tovrik.h"

namespace {

template <typename Fn>
Fn Bind(void* library, const char* name) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        std::cerr << "missing " << name << "\n";
        std::exit(3);
    }
    return reinterpret_cast<Fn>(symbol);
}

int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

const char* PathArg(const std::string& token) {
    if (token == "null") return nullptr;
    if (token == "-") return "";
    return token.c_str();
}

}  // namespace

int main() {
    void* library = dlopen("libtovrik.so", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::cerr << dlerror() << "\n";
        return 2;
    }
    const auto findUsb = Bind<TovrikFindUSBFn>(library, "FindUSB");
    const auto ddsOut = Bind<TovrikDDSOutFn>(library, "DDSOut");
    const auto ddsSuspend = Bind<TovrikDDSSuspendFn>(library, "DDSSuspend");
    const auto getVers = Bind<TovrikGetVersFn>(library, "GetVers");
    const auto strLen = Bind<TovrikStrLenFn>(library, "StrLen");
    const auto strFree = Bind<TovrikStrFreeFn>(library, "StrFree");

    const auto printText = [&](TovrikString text) {
        std::cout << strLen(text) << ' ' << std::string(text, strLen(text));
        strFree(text);
    };

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        std::string path;
        in >> command;
        if (command == "find") {
            std::string arg;
            in >> arg;
            if (arg == "null") {
                std::cout << "find - ";
                printText(findUsb(nullptr));
            } else {
                std::int32_t index = static_cast<std::int32_t>(std::stol(arg));
                TovrikString found = findUsb(&index);
                std::cout << "find " << index << ' ';
                printText(found);
            }
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
            std::cout << "vers ";
            printText(getVers(PathArg(path)));
        } else if (command == "fds") {
            std::cout << "fds " << OpenDescriptors();
        } else if (command == "quit") {
            break;
        } else {
            std::cout << "unknown " << command;
        }
        std::cout << std::endl;
    }
    dlclose(library);
    return 0;
}
