#include "tools/emu_process.h"

#include <glib-unix.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "tools/emu_resources.h"

namespace tovrik::emu {
namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

struct Child {
    GPid pid = 0;
    int status = 0;
    bool done = false;
    GMainLoop* loop = nullptr;
};

struct SignalForward {
    Child* child;
    int signal;
};

void OnChildExit(GPid, gint status, gpointer data) {
    auto& child = *static_cast<Child*>(data);
    child.status = status;
    child.done = true;
    g_main_loop_quit(child.loop);
}

gboolean OnSignal(gpointer data) {
    const auto& forward = *static_cast<SignalForward*>(data);
    if (forward.child->pid > 0 && !forward.child->done) ::kill(forward.child->pid, forward.signal);
    return G_SOURCE_CONTINUE;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

}  // namespace

void EnsurePreload(char** argv) {
    const char* current = std::getenv("LD_PRELOAD");
    const std::string preload = current != nullptr ? current : "";
    if (preload.find("libumockdev-preload") != std::string::npos) return;
    const std::string value = preload.empty() ? std::string(kPreloadLibrary)
                                              : std::string(kPreloadLibrary) + ":" + preload;
    ::setenv("LD_PRELOAD", value.c_str(), 1);
#if defined(__SANITIZE_ADDRESS__)
    // The preload goes ahead of the sanitizer runtime; tell the runtime that is intended.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string asanOptions = asan != nullptr ? asan : "";
    if (asanOptions.find("verify_asan_link_order") == std::string::npos) {
        asanOptions = asanOptions.empty() ? "verify_asan_link_order=0"
                                          : asanOptions + ":verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
    }
#endif
    ::execv("/proc/self/exe", argv);
    std::fprintf(stderr, "tovrik-emu: cannot restart with %s: %s\n", kPreloadLibrary,
                 std::strerror(errno));
    std::exit(kExitSetup);
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::error_code error;
    const auto cwd = std::filesystem::current_path(error);
    return error ? path : (cwd / path).string();
}

int RunCommand(const std::vector<std::string>& command) {
    const MainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
    Child child;
    child.loop = loop.get();
    std::array<SignalForward, 3> forwards{{{&child, SIGTERM}, {&child, SIGINT}, {&child, SIGHUP}}};
    std::vector<Source> signalWatches;
    signalWatches.reserve(forwards.size());
    for (auto& forward : forwards)
        signalWatches.emplace_back(g_unix_signal_add(forward.signal, OnSignal, &forward));

    std::vector<std::string> args = command;
    std::vector<gchar*> argv;
    argv.reserve(args.size() + 1);
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    GError* error = nullptr;
    const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                                G_SPAWN_CHILD_INHERITS_STDIN);
    if (!g_spawn_async(nullptr, argv.data(), nullptr, flags, nullptr, nullptr, &child.pid,
                       &error)) {
        const ErrorPtr owned(error);
        std::fprintf(stderr, "tovrik-emu: cannot run %s: %s\n", command[0].c_str(), owned->message);
        return kExitCannotRun;
    }
    // The watch removes itself once it has reported the exit.
    g_child_watch_add(child.pid, OnChildExit, &child);
    g_main_loop_run(loop.get());
    return ExitCode(child.status);
}

}  // namespace tovrik::emu
