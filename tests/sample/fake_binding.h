// Stand-ins for the sample's library binding and message boxes that record what happens.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "sample/form1.h"
#include "sample/library_binding.h"

namespace tovrik::sample::testing {

struct RecordedCall {
    std::string operation;
    std::string path;
    std::int32_t word = 0;
    std::int32_t flag = 0;
    bool operator==(const RecordedCall&) const = default;
};

class FakeBinding : public LibraryBinding {
  public:
    std::string foundPath;             // what FindUSB answers
    std::vector<std::string> missing;  // operations whose entry point is "missing"
    bool libraryMissing = false;
    std::vector<RecordedCall> calls;  // calls that reached the "library"
    std::int32_t findIndexSeen = -1;

    Bound<std::string> FindUSB(std::int32_t& index) override {
        Bound<std::string> result;
        if (!Available("FindUSB", result.error)) return result;
        findIndexSeen = index;
        calls.push_back({"FindUSB", "", 0, 0});
        index = foundPath.empty() ? 0 : 1;
        result.value = foundPath;
        return result;
    }
    Bound<std::int32_t> DDSOut(const std::string& path, std::int32_t word,
                               std::int32_t flag) override {
        Bound<std::int32_t> result;
        if (!Available("DDSOut", result.error)) return result;
        calls.push_back({"DDSOut", path, word, flag});
        result.value = 0;
        return result;
    }
    Bound<std::int32_t> DDSSuspend(const std::string& path) override {
        Bound<std::int32_t> result;
        if (!Available("DDSSuspend", result.error)) return result;
        calls.push_back({"DDSSuspend", path, 0, 0});
        result.value = 0;
        return result;
    }
    Bound<std::string> GetVers(const std::string& path) override {
        Bound<std::string> result;
        if (!Available("GetVers", result.error)) return result;
        calls.push_back({"GetVers", path, 0, 0});
        result.value = "01/00/00";
        return result;
    }

  private:
    bool Available(const std::string& name, BindError& error) const {
        error.library = kTovrikLibraryFile;
        if (libraryMissing) {
            error.kind = BindError::Kind::Library;
            return false;
        }
        for (const auto& m : missing) {
            if (m == name) {
                error.kind = BindError::Kind::EntryPoint;
                error.name = name;
                return false;
            }
        }
        return true;
    }
};

class RecordingMessages : public MessageBoxes {
  public:
    void Show(QWidget*, const QString& text) override { shown << text; }
    QStringList shown;
};

}  // namespace tovrik::sample::testing
