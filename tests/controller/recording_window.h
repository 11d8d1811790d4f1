// A ControllerWindow that remembers what the controller did to it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "controller/window.h"

namespace tovrik::testing {

struct ShownMessage {
    std::string text;
    MessageIcon icon;
};

class RecordingWindow : public ControllerWindow {
  public:
    void SetControlText(int controlId, const std::string& text) override {
        texts[controlId] = text;
        ++textWrites[controlId];
    }
    void SetButtonChecked(int controlId, bool checked) override { checks[controlId] = checked; }
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        messages.push_back({text, icon});
        events.push_back("message");
    }
    void Beep() override { ++beeps; }
    void DestroyWindow() override {
        ++destroyed;
        events.push_back("destroy");
    }

    std::string Text(int controlId) const {
        const auto it = texts.find(controlId);
        return it == texts.end() ? std::string() : it->second;
    }
    int Writes(int controlId) const {
        const auto it = textWrites.find(controlId);
        return it == textWrites.end() ? 0 : it->second;
    }
    bool Checked(int controlId) const {
        const auto it = checks.find(controlId);
        return it != checks.end() && it->second;
    }

    std::map<int, std::string> texts;
    std::map<int, int> textWrites;
    std::map<int, bool> checks;
    std::vector<ShownMessage> messages;
    int beeps = 0;
    int destroyed = 0;
    std::vector<std::string> events;  // messages and the window's end, in order
};

}  // namespace tovrik::testing
