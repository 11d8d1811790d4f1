// How the sample reaches libtovrik: an interface for the four operations, and the real
// binding, which loads the library by file name and looks each entry point up by name at the
// first call of its operation.
#pragma once

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tovrik::sample {

struct BindError {
    enum class Kind { Library, EntryPoint };
    Kind kind = Kind::Library;
    std::string library;  // file name of the library
    std::string name;     // the entry point, for Kind::EntryPoint
};

// A result, or why the operation could not be bound (nothing was called then).
template <typename T>
struct Bound {
    std::optional<T> value;
    BindError error;
    explicit operator bool() const { return value.has_value(); }
};

class LibraryBinding {
  public:
    virtual ~LibraryBinding() = default;
    virtual Bound<std::string> FindUSB(std::int32_t& index) = 0;
    virtual Bound<std::int32_t> DDSOut(const std::string& path, std::int32_t word,
                                       std::int32_t flag) = 0;
    virtual Bound<std::int32_t> DDSSuspend(const std::string& path) = 0;
    virtual Bound<std::string> GetVers(const std::string& path) = 0;
};

#ifdef _WIN32
inline constexpr const char* kTovrikLibraryFile = "tovrik.dll";
#else
inline constexpr const char* kTovrikLibraryFile = "libtovrik.so";

// Binds lazily, per operation: the first call of each operation loads the library (through
// the ordinary search: rpath, LD_LIBRARY_PATH, system directories) and looks its entry point
// up; later calls go to the kept address. A failed attempt is retried at the next call.
class DlopenBinding final : public LibraryBinding {
  public:
    explicit DlopenBinding(std::string libraryFile = kTovrikLibraryFile);

    Bound<std::string> FindUSB(std::int32_t& index) override;
    Bound<std::int32_t> DDSOut(const std::string& path, std::int32_t word,
                               std::int32_t flag) override;
    Bound<std::int32_t> DDSSuspend(const std::string& path) override;
    Bound<std::string> GetVers(const std::string& path) override;

  private:
    struct Unload {
        void operator()(void* library) const { ::dlclose(library); }
    };
    struct Entry {
        std::unique_ptr<void, Unload> library;
        void* address = nullptr;
    };

    // The kept address of `name`, loading and looking it up first if needed.
    void* Resolve(Entry& entry, const char* name, BindError& error);
    // The text of a returned string, which is freed; the helpers are bound with the first
    // operation that returns text.
    std::string TakeText(char* text);
    bool BindStringHelpers(BindError& error);

    std::string libraryFile_;
    Entry findUsb_;
    Entry ddsOut_;
    Entry ddsSuspend_;
    Entry getVers_;
    Entry strLen_;
    Entry strFree_;
};
#endif

}  // namespace tovrik::sample
