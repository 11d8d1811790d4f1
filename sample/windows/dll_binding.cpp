#include "sample/windows/dll_binding.h"

#include <utility>

#include "library/windows/tovrik_win.h"

namespace tovrik::sample {
namespace {

template <typename Fn>
Fn As(FARPROC address) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

// The ANSI bytes of a BSTR result, which is freed.
std::string TakeText(BSTR text) {
    if (text == nullptr) return {};
    struct Release {
        BSTR text;
        ~Release() { ::SysFreeString(text); }
    } release{text};
    return std::string(reinterpret_cast<const char*>(text), ::SysStringByteLen(text));
}

}  // namespace

DllBinding::DllBinding(std::string libraryFile) : libraryFile_(std::move(libraryFile)) {}

FARPROC DllBinding::Resolve(FARPROC& address, const char* name, BindError& error) {
    if (address != nullptr) return address;
    error.library = libraryFile_;
    if (!library_) {
        library_.reset(::LoadLibraryA(libraryFile_.c_str()));
        if (!library_) {
            error.kind = BindError::Kind::Library;
            return nullptr;
        }
    }
    address = ::GetProcAddress(library_.get(), name);
    if (address == nullptr) {
        error.kind = BindError::Kind::EntryPoint;
        error.name = name;
    }
    return address;
}

Bound<std::string> DllBinding::FindUSB(std::int32_t& index) {
    Bound<std::string> result;
    if (FARPROC find = Resolve(findUsb_, TOVRIK_NAME_FINDUSB, result.error)) {
        result.value = TakeText(As<TovrikFindUSBFn>(find)(&index));
    }
    return result;
}

Bound<std::int32_t> DllBinding::DDSOut(const std::string& path, std::int32_t word,
                                       std::int32_t flag) {
    Bound<std::int32_t> result;
    if (FARPROC out = Resolve(ddsOut_, TOVRIK_NAME_DDSOUT, result.error)) {
        // The word's bit pattern goes out unchanged: a negative word as its two's complement.
        result.value =
            As<TovrikDDSOutFn>(out)(path.c_str(), static_cast<std::uint32_t>(word), flag);
    }
    return result;
}

Bound<std::int32_t> DllBinding::DDSSuspend(const std::string& path) {
    Bound<std::int32_t> result;
    if (FARPROC suspend = Resolve(ddsSuspend_, TOVRIK_NAME_DDSSUSPEND, result.error)) {
        result.value = As<TovrikDDSSuspendFn>(suspend)(path.c_str());
    }
    return result;
}

Bound<std::string> DllBinding::GetVers(const std::string& path) {
    Bound<std::string> result;
    if (FARPROC vers = Resolve(getVers_, TOVRIK_NAME_GETVERS, result.error)) {
        result.value = TakeText(As<TovrikGetVersFn>(vers)(path.c_str()));
    }
    return result;
}

}  // namespace tovrik::sample
