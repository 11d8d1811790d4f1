// The few things the frequency controller needs of its window. Each shell (app/gui for Qt,
// app/windows for Win32) implements them; tests record them.
#pragma once

#include <string>

#include "controller/message_icon.h"

namespace tovrik {

class ControllerWindow {
  public:
    virtual ~ControllerWindow() = default;
    // Texts are UTF-8.
    virtual void SetControlText(int controlId, const std::string& text) = 0;
    virtual void SetButtonChecked(int controlId, bool checked) = 0;
    // Modal, OK button only, owned by the main window, captioned with the application name.
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    virtual void Beep() = 0;
    virtual void DestroyWindow() = 0;
};

}  // namespace tovrik
