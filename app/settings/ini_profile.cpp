// The INI profile: parsing, lookup, in-place edits and the crash-safe save.
#include "app/settings/ini_profile.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include "app/settings/windows/file_io.h"
#else
#include "app/settings/temp_files.h"
#include "common/posix_io.h"
#endif

namespace tovrik {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// ASCII-only folding: the locale must not decide whether two names match.
char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

// A line break inside a value would turn its tail into lines of their own.
std::string OneLine(std::string_view s) {
    return std::string(s.substr(0, s.find_first_of("\r\n")));
}

struct Line {
    enum class Kind { Other, Section, Key };
    Kind kind = Kind::Other;
    std::string_view name;   // section or key name
    std::string_view value;  // key lines only
};

Line Classify(std::string_view text) {
    const std::string_view t = Trim(text);
    if (t.empty() || t.front() == ';') return {};
    if (t.front() == '[') {
        const auto close = t.find(']');
        if (close == std::string_view::npos) return {};
        return {Line::Kind::Section, Trim(t.substr(1, close - 1)), {}};
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return {};
    return {Line::Kind::Key, Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        // A line keeps its carriage returns, so that lines nobody changes are written back
        // byte for byte; Classify trims them.
        lines.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return lines;
}

// The carriage returns that end `line`: a replaced line keeps its file's line end.
std::string_view CrTail(std::string_view line) {
    const auto last = line.find_last_not_of('\r');
    return line.substr(last == std::string_view::npos ? 0 : last + 1);
}

#ifndef _WIN32
// Whether the caller's class (owner, group, others) has the write bit. Root passes access()
// for every file, yet must not replace one that its owner made read-only.
bool ModeLetsWrite(const struct stat& st) {
    if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
    bool inGroup = st.st_gid == ::getegid();
    if (!inGroup) {
        const int count = ::getgroups(0, nullptr);
        if (count > 0) {
            std::vector<gid_t> groups(static_cast<std::size_t>(count));
            const int got = ::getgroups(count, groups.data());
            for (int i = 0; i < got && !inGroup; ++i) {
                inGroup = groups[static_cast<std::size_t>(i)] == st.st_gid;
            }
        }
    }
    return (st.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
}

using Fd = UniqueFd;

// Removes the temporary file unless the rename took it.
class TempFile {
  public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    void Release() { path_.clear(); }

  private:
    std::string path_;
};

#endif

}  // namespace

#ifdef _WIN32
IniProfile::IniProfile(std::filesystem::path path) : path_(std::move(path)) {
    if (const auto text = windows_files::ReadRegularFile(path_)) lines_ = SplitLines(*text);
}
#else
IniProfile::IniProfile(std::filesystem::path path) : path_(std::move(path)) {
    // Only a regular file counts: a folder or a device under that name reads as no file.
    Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::string text;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    lines_ = SplitLines(text);
}
#endif

IniProfile::IniProfile(const std::filesystem::path& readFrom, std::filesystem::path path)
    : IniProfile(readFrom) {
    path_ = std::move(path);
}

namespace {

// Index of the line holding `key` in a section named `section`: every section of that name is
// searched in file order.
std::optional<std::size_t> FindKey(const std::vector<std::string>& lines, std::string_view section,
                                   std::string_view key) {
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line line = Classify(lines[i]);
        if (line.kind == Line::Kind::Section) {
            inSection = SameName(line.name, section);
        } else if (inSection && line.kind == Line::Kind::Key && SameName(line.name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> FindSection(const std::vector<std::string>& lines,
                                       std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line line = Classify(lines[i]);
        if (line.kind == Line::Kind::Section && SameName(line.name, section)) return i;
    }
    return std::nullopt;
}

}  // namespace

int IniProfile::ReadInt(const std::string& section, const std::string& key,
                        int defaultValue) const {
    const auto i = FindKey(lines_, section, key);
    if (!i) return defaultValue;
    const std::string_view value = Classify(lines_[*i]).value;
    return value.empty() ? defaultValue : ParseProfileInt(value);
}

std::string IniProfile::ReadText(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const auto i = FindKey(lines_, section, key);
    if (!i) return defaultValue;
    return std::string(Classify(lines_[*i]).value);
}

void IniProfile::WriteInt(const std::string& section, const std::string& key, int value) {
    WriteText(section, key, std::to_string(value));
}

void IniProfile::WriteText(const std::string& section, const std::string& key,
                           const std::string& value) {
    const std::string sec = OneLine(section);
    const std::string name = OneLine(key);
    const std::string val = OneLine(value);

    if (const auto i = FindKey(lines_, sec, name)) {
        const std::string existingName(Classify(lines_[*i]).name);
        lines_[*i] = existingName + "=" + val + std::string(CrTail(lines_[*i]));
        return;
    }
    // New lines end like the file's first line, so a CRLF file stays CRLF.
    const std::string end = !lines_.empty() && lines_.front().ends_with('\r') ? "\r" : "";
    if (const auto header = FindSection(lines_, sec)) {
        std::size_t at = *header + 1;
        for (std::size_t j = at; j < lines_.size(); ++j) {
            const Line line = Classify(lines_[j]);
            if (line.kind == Line::Kind::Section) break;
            if (line.kind == Line::Kind::Key) at = j + 1;
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), name + "=" + val + end);
        return;
    }
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back(end);
    lines_.push_back("[" + sec + "]" + end);
    lines_.push_back(name + "=" + val + end);
}

std::string IniProfile::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += '\n';
    }
    return text;
}

#ifdef _WIN32
bool IniProfile::Save(std::error_code* reason) const {
    const bool saved = windows_files::ReplaceAtomically(path_, Text());
    if (reason != nullptr) {
        *reason = saved ? std::error_code() : std::make_error_code(std::errc::io_error);
    }
    return saved;
}
#else
bool IniProfile::Save(std::error_code* reason) const {
    std::error_code unused;
    std::error_code& ec = reason != nullptr ? *reason : unused;
    ec.clear();
    const auto fail = [&ec](int error) {
        ec = std::error_code(error != 0 ? error : EIO, std::generic_category());
        return false;
    };
    if (path_.empty()) return fail(ENOENT);
    fs::path target = path_;
    if (fs::is_symlink(target, ec)) {
        target = fs::weakly_canonical(target, ec);
        if (ec) return false;
    }
    ec.clear();
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    if (!fs::exists(dir, ec)) {
        if (!fs::create_directories(dir, ec) || ec) return ec ? false : fail(EIO);
        fs::permissions(dir, fs::perms::owner_all, ec);
    }
    ec.clear();

    // A new file is private to the user, like the folder it usually lives in; a replaced file
    // keeps its mode. A read-only file stays unwritten even though the folder would allow the
    // rename, for root as well.
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return fail(EISDIR);
        if (!S_ISREG(st.st_mode)) return fail(EINVAL);
        if (::access(target.c_str(), W_OK) != 0) return fail(errno);
        if (!ModeLetsWrite(st)) return fail(EACCES);
        mode = st.st_mode & 07777;
    }

    const std::string name = target.filename().string();
    RemoveStaleTempFiles(dir, name);
    std::string tempPath;
    const int rawFd = CreateLockedTempFile(dir, name, tempPath);
    if (rawFd < 0) return fail(errno);
    // Declared first, closed last: the lock lasts until the file is renamed or removed.
    Fd fd(rawFd);
    TempFile temp(tempPath);

    if (::fchmod(fd.get(), mode) != 0) return fail(errno);
    if (!WriteAll(fd.get(), Text())) return fail(errno);
    if (::fsync(fd.get()) != 0) return fail(errno);
    if (::rename(temp.path().c_str(), target.c_str()) != 0) return fail(errno);
    temp.Release();
    fd.Close();  // fsync has reported any write error already

    // Make the rename itself durable; the new file is complete either way.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        Fd dirGuard(dirFd);
        ::fsync(dirGuard.get());
    }
    return true;
}

#endif

}  // namespace tovrik
