// The icon of a message box; the values are the Windows MB_ICON* bits.
#pragma once

namespace tovrik {

enum class MessageIcon {
    Exclamation = 48,  // failures
    Information = 64,  // results
};

}  // namespace tovrik
