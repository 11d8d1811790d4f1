// *SAV/*RCL's states on disk: one file per device name under the user's state directory,
// one line per slot, replaced whole (temporary file, then rename) on every save.
#pragma once

#include <filesystem>
#include <optional>

#include "cli/scpi.h"

namespace tovrik::cli {

// $XDG_STATE_HOME/tovrikctl (else ~/.local/state/tovrikctl); %LOCALAPPDATA%\tovrikctl on
// Windows. None when the environment names no home.
std::optional<std::filesystem::path> DefaultStateDirectory();

class FileStateStore : public ScpiStateStore {
  public:
    explicit FileStateStore(std::optional<std::filesystem::path> directory)
        : directory_(std::move(directory)) {}
    std::optional<ScpiError> Save(const std::string& name, unsigned slot,
                                  const std::string& state) override;
    std::variant<std::optional<std::string>, ScpiError> Recall(const std::string& name,
                                                               unsigned slot) override;

  private:
    std::optional<std::filesystem::path> directory_;
};

}  // namespace tovrik::cli
