#include "cli/state_file.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

namespace tovrik::cli {
namespace {

using Slots = std::map<unsigned, std::string>;
constexpr unsigned kSlotCount = 10;
constexpr std::uintmax_t kMaxFileBytes = 8u << 20;  // ten full lists, with room

// A serial number, or a device path, as a file name: anything but [A-Za-z0-9._-] is '_'.
std::string FileName(const std::string& name) {
    std::string file;
    for (const char ch : name) {
        const bool plain = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                           (ch >= '0' && ch <= '9') || ch == '.' || ch == '-' || ch == '_';
        file += plain ? ch : '_';
    }
    return (file.empty() || file.front() == '.' ? "_" + file : file) + ".states";
}

// UTF-8 always: string() throws on Windows where the ANSI code page lacks a character of it.
std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

ScpiError Damaged(const std::filesystem::path& file, std::string_view why) {
    return MakeError(ScpiCode::MassStorageError, PathText(file) + " " + std::string(why));
}

// The slots saved in `file`: none saved when it does not exist.
std::variant<Slots, ScpiError> Read(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return Slots{};
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) return Damaged(file, "cannot be read: " + ec.message());
    if (size > kMaxFileBytes) return Damaged(file, "is damaged (too large)");
    std::ifstream in(file, std::ios::binary);
    if (!in) return Damaged(file, "cannot be read");
    Slots slots;
    for (std::string line; std::getline(in, line);) {
        // "<slot> <state>"
        if (line.size() < 2 || line[0] < '0' || line[0] > '9' || line[1] != ' ' ||
            slots.count(static_cast<unsigned>(line[0] - '0')) != 0) {
            return Damaged(file, "is damaged");
        }
        slots[static_cast<unsigned>(line[0] - '0')] = line.substr(2);
    }
    if (in.bad()) return Damaged(file, "cannot be read");
    return slots;
}

[[maybe_unused]] std::string Getenv(const char* name) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): read at start-up
    return value != nullptr ? value : "";
}

}  // namespace

std::optional<std::filesystem::path> DefaultStateDirectory() {
#ifdef _WIN32
    // Wide: a user name outside the ANSI code page must survive.
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");  // NOLINT(concurrency-mt-unsafe)
    if (local == nullptr || *local == L'\0') return std::nullopt;
    return std::filesystem::path(local) / "tovrikctl";
#else
    const std::string xdg = Getenv("XDG_STATE_HOME");
    // A relative one is to be ignored, as the base directory rules say.
    if (!xdg.empty() && xdg.front() == '/') return std::filesystem::path(xdg) / "tovrikctl";
    const std::string home = Getenv("HOME");
    if (home.empty()) return std::nullopt;
    return std::filesystem::path(home) / ".local" / "state" / "tovrikctl";
#endif
}

std::optional<ScpiError> FileStateStore::Save(const std::string& name, unsigned slot,
                                              const std::string& state) {
    if (!directory_) return MakeError(ScpiCode::MassStorageError, "no state directory");
    if (slot >= kSlotCount || state.find('\n') != std::string::npos) {
        return MakeError(ScpiCode::DataOutOfRange);
    }
    const std::filesystem::path file = *directory_ / FileName(name);
    auto read = Read(file);
    // A damaged file is left for the user to look at, not overwritten.
    if (auto* error = std::get_if<ScpiError>(&read)) return *error;
    Slots& slots = std::get<Slots>(read);
    slots[slot] = state;
    std::error_code ec;
    std::filesystem::create_directories(*directory_, ec);
    if (ec) return Damaged(*directory_, "cannot be made: " + ec.message());
    std::filesystem::path temporary = file;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const auto& [n, text] : slots) out << n << ' ' << text << '\n';
        out.flush();
        if (!out) {
            std::filesystem::remove(temporary, ec);
            return Damaged(temporary, "cannot be written");
        }
    }
    std::filesystem::rename(temporary, file, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return Damaged(file, "cannot be replaced");
    }
    return std::nullopt;
}

std::variant<std::optional<std::string>, ScpiError> FileStateStore::Recall(const std::string& name,
                                                                           unsigned slot) {
    if (!directory_) return MakeError(ScpiCode::MassStorageError, "no state directory");
    auto read = Read(*directory_ / FileName(name));
    if (auto* error = std::get_if<ScpiError>(&read)) return *error;
    const Slots& slots = std::get<Slots>(read);
    const auto it = slots.find(slot);
    if (it == slots.end()) return std::optional<std::string>{};
    return std::optional<std::string>{it->second};
}

}  // namespace tovrik::cli
