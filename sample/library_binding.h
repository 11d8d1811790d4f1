// How the sample reaches libtovrik: an interface for the four operations, and the real
// binding, which loads the library by file name and looks each entry point up by name at the
// first call of its operation.
#pragma once

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
#endif

// Binds lazily, per operation: the first call of each operation loads the library (through
// the system's ordinary search: rpath and LD_LIBRARY_PATH on Linux, the program's folder
// first on Windows) and looks its entry point up by its exported name (decorated on 32-bit
// Windows); later calls go to the kept address. A failed attempt is retried at the next call.
class RuntimeBinding final : public LibraryBinding {
  public:
    explicit RuntimeBinding(std::string libraryFile = kTovrikLibraryFile);

    Bound<std::string> FindUSB(std::int32_t& index) override;
    Bound<std::int32_t> DDSOut(const std::string& path, std::int32_t word,
                               std::int32_t flag) override;
    Bound<std::int32_t> DDSSuspend(const std::string& path) override;
    Bound<std::string> GetVers(const std::string& path) override;

  private:
    struct Unload {
        void operator()(void* library) const;
    };

    // The kept address of `name`, loading the library and looking it up first if needed.
    void* Resolve(void*& address, const char* name, BindError& error);
    // Whatever a text result needs before it can be read and freed (StrLen and StrFree from
    // the library on Linux; nothing on Windows, where results are BSTRs).
    bool BindTextHelpers(BindError& error);
    // The text of a returned string, which is freed.
    std::string TakeText(void* text) const;

    std::string libraryFile_;
    std::unique_ptr<void, Unload> library_;
    void* findUsb_ = nullptr;
    void* ddsOut_ = nullptr;
    void* ddsSuspend_ = nullptr;
    void* getVers_ = nullptr;
    void* strLen_ = nullptr;
    void* strFree_ = nullptr;
};

}  // namespace tovrik::sample
