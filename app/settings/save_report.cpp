#include "app/settings/save_report.h"

#include "app/settings/settings_store.h"

namespace tovrik {

std::string SaveFailureLine(const std::string& program, const std::filesystem::path& path,
                            const std::error_code& reason) {
    return program + ": cannot save " + path.string() + ": " + reason.message();
}

bool SaveProfileOrSay(const IniProfile& profile, const std::string& program, std::FILE* out) {
    std::error_code reason;
    if (profile.Save(&reason)) return true;
    if (!reason) reason = std::make_error_code(std::errc::io_error);
    std::fprintf(out, "%s\n", SaveFailureLine(program, profile.path(), reason).c_str());
    std::fflush(out);
    return false;
}

}  // namespace tovrik
