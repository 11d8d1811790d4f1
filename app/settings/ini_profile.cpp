// The INI profile: parsing, lookup, in-place edits and the crash-safe save.
#include "app/settings/ini_profile.h"

#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "app/settings/file_backend.h"

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

}  // namespace

IniProfile::IniProfile(std::filesystem::path path) : path_(std::move(path)) {
    if (const auto text = settings_files::ReadRegularFile(path_)) lines_ = SplitLines(*text);
}

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
    // New lines end like the file's first line, so a file keeps its line ends; a file
    // written from nothing gets the platform's.
    const bool crlf =
        lines_.empty() ? settings_files::NewFilesUseCrLf() : lines_.front().ends_with('\r');
    const std::string end = crlf ? "\r" : "";
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

bool IniProfile::Save(std::error_code* reason) const {
    std::error_code ec;
    const bool saved = settings_files::ReplaceAtomically(path_, Text(), ec);
    if (saved) {
        ec.clear();
    } else if (!ec) {
        ec = std::make_error_code(std::errc::io_error);
    }
    if (reason != nullptr) *reason = ec;
    return saved;
}

}  // namespace tovrik
