// The sample's binding to tovrik.dll: loaded by name at the first call of an operation, each
// entry point looked up by its exported name (decorated on 32-bit Windows).
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

#include "sample/library_binding.h"

namespace tovrik::sample {

class DllBinding final : public LibraryBinding {
  public:
    explicit DllBinding(std::string libraryFile = kTovrikLibraryFile);

    Bound<std::string> FindUSB(std::int32_t& index) override;
    Bound<std::int32_t> DDSOut(const std::string& path, std::int32_t word,
                               std::int32_t flag) override;
    Bound<std::int32_t> DDSSuspend(const std::string& path) override;
    Bound<std::string> GetVers(const std::string& path) override;

  private:
    struct Unload {
        void operator()(HMODULE module) const { ::FreeLibrary(module); }
    };
    // A failed attempt is retried at the next call, as on Linux.
    FARPROC Resolve(FARPROC& address, const char* name, BindError& error);

    std::string libraryFile_;
    std::unique_ptr<std::remove_pointer_t<HMODULE>, Unload> library_;
    FARPROC findUsb_ = nullptr;
    FARPROC ddsOut_ = nullptr;
    FARPROC ddsSuspend_ = nullptr;
    FARPROC getVers_ = nullptr;
};

}  // namespace tovrik::sample
