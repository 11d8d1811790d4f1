#include "app/settings/save_report.h"

#include "app/settings/settings_store.h"

namespace tovrik {

std::string SaveFailureLine(const std::string& program, const std::filesystem::path& path,
                            const std::error_code& reason) {
    return program + ": cannot save " + path.string() + ": " + reason.message();
}

std::string SaveResult::Line(const std::string& program) const {
    return saved ? std::string() : SaveFailureLine(program, path, reason);
}

SaveResult SaveProfile(const IniProfile& profile) {
    SaveResult result;
    result.path = profile.path();
    result.saved = profile.Save(&result.reason);
    if (!result.saved && !result.reason) result.reason = std::make_error_code(std::errc::io_error);
    return result;
}

bool SaveProfileOrSay(const IniProfile& profile, const std::string& program, std::FILE* out) {
    const SaveResult result = SaveProfile(profile);
    if (result.saved) return true;
    std::fprintf(out, "%s\n", result.Line(program).c_str());
    std::fflush(out);
    return false;
}

}  // namespace tovrik
