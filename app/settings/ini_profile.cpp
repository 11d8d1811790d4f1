// The INI profile: parsing, lookup, in-place edits and the crash-safe save.
#include "app/settings/ini_profile.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include "app/settings/windows/file_io.h"
#else
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
        std::size_t len = end - start;
        if (len > 0 && text[start + len - 1] == '\r') --len;
        lines.emplace_back(text, start, len);
        start = end + 1;
    }
    return lines;
}

#ifndef _WIN32
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
        lines_[*i] = existingName + "=" + val;
        return;
    }
    if (const auto header = FindSection(lines_, sec)) {
        std::size_t at = *header + 1;
        for (std::size_t j = at; j < lines_.size(); ++j) {
            const Line line = Classify(lines_[j]);
            if (line.kind == Line::Kind::Section) break;
            if (line.kind == Line::Kind::Key) at = j + 1;
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), name + "=" + val);
        return;
    }
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + sec + "]");
    lines_.push_back(name + "=" + val);
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
bool IniProfile::Save() const {
    return windows_files::ReplaceAtomically(path_, Text());
}
#else
bool IniProfile::Save() const {
    if (path_.empty()) return false;
    std::error_code ec;
    fs::path target = path_;
    if (fs::is_symlink(target, ec)) {
        target = fs::weakly_canonical(target, ec);
        if (ec) return false;
    }
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    if (!fs::exists(dir, ec)) {
        if (!fs::create_directories(dir, ec) || ec) return false;
        fs::permissions(dir, fs::perms::owner_all, ec);
    }

    // A new file is private to the user, like the folder it usually lives in; a replaced file
    // keeps its mode. A read-only file stays unwritten even though the folder would allow the
    // rename.
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0) return false;
        mode = st.st_mode & 07777;
    }

    std::string pattern = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    const int rawFd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (rawFd < 0) return false;
    Fd fd(rawFd);
    TempFile temp(pattern);

    if (::fchmod(fd.get(), mode) != 0) return false;
    if (!WriteAll(fd.get(), Text())) return false;
    if (::fsync(fd.get()) != 0) return false;
    if (!fd.Close()) return false;
    if (::rename(temp.path().c_str(), target.c_str()) != 0) return false;
    temp.Release();

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
