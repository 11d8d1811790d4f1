// The temporary files of a profile save. A save holds an exclusive flock on its temporary file
// from creation until the rename, so a temporary file whose lock can be taken belongs to a save
// that was killed and may go.
#pragma once

#include <filesystem>
#include <string>

namespace tovrik {

// Creates ".<name>.XXXXXX" in `dir` and locks it. The descriptor (close-on-exec), or -1 with
// errno set. `path` receives the file's path.
int CreateLockedTempFile(const std::filesystem::path& dir, const std::string& name,
                         std::string& path);

// Removes the temporary files of `name` in `dir` that are regular, the caller's own and held by
// no running save. Returns how many went.
int RemoveStaleTempFiles(const std::filesystem::path& dir, const std::string& name);

}  // namespace tovrik
