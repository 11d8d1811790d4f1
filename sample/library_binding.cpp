#include "sample/library_binding.h"

#include <utility>

// The one platform part: how a library is loaded, how its entry points are named and how a
// text result is read and freed.
#ifdef _WIN32
#include <windows.h>

#include "library/windows/tovrik_win.h"

namespace tovrik::sample {
namespace {

using Text = BSTR;
constexpr const char* kFindUsbName = TOVRIK_NAME_FINDUSB;
constexpr const char* kDdsOutName = TOVRIK_NAME_DDSOUT;
constexpr const char* kDdsSuspendName = TOVRIK_NAME_DDSSUSPEND;
constexpr const char* kGetVersName = TOVRIK_NAME_GETVERS;
constexpr bool kTextHelpersFromLibrary = false;

void* OpenLibrary(const std::string& file) {
    return static_cast<void*>(::LoadLibraryA(file.c_str()));
}
void CloseLibrary(void* library) {
    ::FreeLibrary(static_cast<HMODULE>(library));
}
void* FindSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}
std::size_t TextLength(Text text, void*) {
    return ::SysStringByteLen(text);
}
void FreeText(Text text, void*) {
    ::SysFreeString(text);
}

}  // namespace
}  // namespace tovrik::sample
#else
#include <dlfcn.h>

#include "library/tovrik.h"

namespace tovrik::sample {
namespace {

using Text = TovrikString;
constexpr const char* kFindUsbName = "FindUSB";
constexpr const char* kDdsOutName = "DDSOut";
constexpr const char* kDdsSuspendName = "DDSSuspend";
constexpr const char* kGetVersName = "GetVers";
constexpr bool kTextHelpersFromLibrary = true;

void* OpenLibrary(const std::string& file) {
    return ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void CloseLibrary(void* library) {
    ::dlclose(library);
}
void* FindSymbol(void* library, const char* name) {
    return ::dlsym(library, name);
}
std::size_t TextLength(Text text, void* strLen) {
    return reinterpret_cast<TovrikStrLenFn>(strLen)(text);
}
void FreeText(Text text, void* strFree) {
    reinterpret_cast<TovrikStrFreeFn>(strFree)(text);
}

}  // namespace
}  // namespace tovrik::sample
#endif

namespace tovrik::sample {
namespace {

template <typename Fn>
Fn As(void* address) {
    return reinterpret_cast<Fn>(address);
}

}  // namespace

void RuntimeBinding::Unload::operator()(void* library) const {
    CloseLibrary(library);
}

RuntimeBinding::RuntimeBinding(std::string libraryFile) : libraryFile_(std::move(libraryFile)) {}

void* RuntimeBinding::Resolve(void*& address, const char* name, BindError& error) {
    if (address != nullptr) return address;
    error.library = libraryFile_;
    if (!library_) {
        library_.reset(OpenLibrary(libraryFile_));
        if (!library_) {
            error.kind = BindError::Kind::Library;
            return nullptr;
        }
    }
    address = FindSymbol(library_.get(), name);
    if (address == nullptr) {
        error.kind = BindError::Kind::EntryPoint;
        error.name = name;
    }
    return address;
}

bool RuntimeBinding::BindTextHelpers(BindError& error) {
    if (!kTextHelpersFromLibrary) return true;
    return Resolve(strLen_, "StrLen", error) != nullptr &&
           Resolve(strFree_, "StrFree", error) != nullptr;
}

std::string RuntimeBinding::TakeText(void* result) const {
    auto text = static_cast<Text>(result);
    if (text == nullptr) return {};
    // Copy first, then free, so that the string is released even if copying throws.
    struct Release {
        Text text;
        void* free;
        ~Release() { FreeText(text, free); }
    } release{text, strFree_};
    return std::string(reinterpret_cast<const char*>(text), TextLength(text, strLen_));
}

Bound<std::string> RuntimeBinding::FindUSB(std::int32_t& index) {
    Bound<std::string> result;
    void* find = Resolve(findUsb_, kFindUsbName, result.error);
    if (find == nullptr || !BindTextHelpers(result.error)) return result;
    result.value = TakeText(As<TovrikFindUSBFn>(find)(&index));
    return result;
}

Bound<std::int32_t> RuntimeBinding::DDSOut(const std::string& path, std::int32_t word,
                                           std::int32_t flag) {
    Bound<std::int32_t> result;
    void* out = Resolve(ddsOut_, kDdsOutName, result.error);
    if (out == nullptr) return result;
    // The word's bit pattern goes out unchanged: a negative word as its two's complement.
    result.value = As<TovrikDDSOutFn>(out)(path.c_str(), static_cast<std::uint32_t>(word), flag);
    return result;
}

Bound<std::int32_t> RuntimeBinding::DDSSuspend(const std::string& path) {
    Bound<std::int32_t> result;
    void* suspend = Resolve(ddsSuspend_, kDdsSuspendName, result.error);
    if (suspend == nullptr) return result;
    result.value = As<TovrikDDSSuspendFn>(suspend)(path.c_str());
    return result;
}

Bound<std::string> RuntimeBinding::GetVers(const std::string& path) {
    Bound<std::string> result;
    void* vers = Resolve(getVers_, kGetVersName, result.error);
    if (vers == nullptr || !BindTextHelpers(result.error)) return result;
    result.value = TakeText(As<TovrikGetVersFn>(vers)(path.c_str()));
    return result;
}

}  // namespace tovrik::sample
