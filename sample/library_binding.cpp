#include "sample/library_binding.h"

#include <utility>

#include "library/tovrik.h"

namespace tovrik::sample {
namespace {

template <typename Fn>
Fn As(void* address) {
    return reinterpret_cast<Fn>(address);
}

}  // namespace

DlopenBinding::DlopenBinding(std::string libraryFile) : libraryFile_(std::move(libraryFile)) {}

void* DlopenBinding::Resolve(Entry& entry, const char* name, BindError& error) {
    if (entry.address != nullptr) return entry.address;
    error.library = libraryFile_;
    if (!entry.library) {
        entry.library.reset(::dlopen(libraryFile_.c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!entry.library) {
            error.kind = BindError::Kind::Library;
            return nullptr;
        }
    }
    entry.address = ::dlsym(entry.library.get(), name);
    if (entry.address == nullptr) {
        error.kind = BindError::Kind::EntryPoint;
        error.name = name;
    }
    return entry.address;
}

bool DlopenBinding::BindStringHelpers(BindError& error) {
    return Resolve(strLen_, "StrLen", error) != nullptr &&
           Resolve(strFree_, "StrFree", error) != nullptr;
}

std::string DlopenBinding::TakeText(char* text) {
    if (text == nullptr) return {};
    // Copy first, then free, so that the string is released even if copying throws.
    struct Release {
        TovrikStrFreeFn free;
        char* text;
        ~Release() { free(text); }
    } release{As<TovrikStrFreeFn>(strFree_.address), text};
    return std::string(text, As<TovrikStrLenFn>(strLen_.address)(text));
}

Bound<std::string> DlopenBinding::FindUSB(std::int32_t& index) {
    Bound<std::string> result;
    void* find = Resolve(findUsb_, "FindUSB", result.error);
    if (find == nullptr || !BindStringHelpers(result.error)) return result;
    result.value = TakeText(As<TovrikFindUSBFn>(find)(&index));
    return result;
}

Bound<std::int32_t> DlopenBinding::DDSOut(const std::string& path, std::int32_t word,
                                          std::int32_t flag) {
    Bound<std::int32_t> result;
    void* out = Resolve(ddsOut_, "DDSOut", result.error);
    if (out == nullptr) return result;
    // The word's bit pattern goes out unchanged: a negative word as its two's complement.
    result.value = As<TovrikDDSOutFn>(out)(path.c_str(), static_cast<std::uint32_t>(word), flag);
    return result;
}

Bound<std::int32_t> DlopenBinding::DDSSuspend(const std::string& path) {
    Bound<std::int32_t> result;
    void* suspend = Resolve(ddsSuspend_, "DDSSuspend", result.error);
    if (suspend == nullptr) return result;
    result.value = As<TovrikDDSSuspendFn>(suspend)(path.c_str());
    return result;
}

Bound<std::string> DlopenBinding::GetVers(const std::string& path) {
    Bound<std::string> result;
    void* vers = Resolve(getVers_, "GetVers", result.error);
    if (vers == nullptr || !BindStringHelpers(result.error)) return result;
    result.value = TakeText(As<TovrikGetVersFn>(vers)(path.c_str()));
    return result;
}

}  // namespace tovrik::sample
