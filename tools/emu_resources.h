// Owners for the C resources tovrik-emu holds: descriptors, GObjects, the main loop, GLib
// sources and the control FIFO. Each releases what it holds when it goes.
#pragma once

#include <glib-object.h>
#include <glib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <utility>

#include "common/posix_io.h"

namespace tovrik::emu {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object != nullptr) g_object_unref(object);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct MainLoopUnref {
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};
using MainLoopPtr = std::unique_ptr<GMainLoop, MainLoopUnref>;

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// A source attached to the default main context, removed with its owner.
class Source {
  public:
    Source() = default;
    explicit Source(guint id) : id_(id) {}
    ~Source() {
        if (id_ != 0) g_source_remove(id_);
    }
    Source(Source&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
    Source& operator=(Source&&) = delete;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

  private:
    guint id_ = 0;
};

// A file this program created and removes again.
class OwnedPath {
  public:
    OwnedPath() = default;
    explicit OwnedPath(std::string path) : path_(std::move(path)) {}
    ~OwnedPath() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    OwnedPath(const OwnedPath&) = delete;
    OwnedPath& operator=(const OwnedPath&) = delete;

  private:
    std::string path_;
};

}  // namespace tovrik::emu
