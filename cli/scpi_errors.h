// The SCPI errors this instrument reports, one row each: name, code, class and standard text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tovrik::cli {

// A row's text is a macro argument, so a row without one does not compile.
#define TOVRIK_SCPI_ERRORS(X)                                            \
    X(CommandError, -100, Command, "Command error")                      \
    X(SyntaxError, -102, Command, "Syntax error")                        \
    X(DataTypeError, -104, Command, "Data type error")                   \
    X(ParameterNotAllowed, -108, Command, "Parameter not allowed")       \
    X(MissingParameter, -109, Command, "Missing parameter")              \
    X(UndefinedHeader, -113, Command, "Undefined header")                \
    X(InvalidSuffix, -131, Command, "Invalid suffix")                    \
    X(TriggerIgnored, -211, Execution, "Trigger ignored")                \
    X(InitIgnored, -213, Execution, "Init ignored")                      \
    X(SettingsConflict, -221, Execution, "Settings conflict")            \
    X(DataOutOfRange, -222, Execution, "Data out of range")              \
    X(IllegalParameterValue, -224, Execution, "Illegal parameter value") \
    X(HardwareError, -240, Execution, "Hardware error")                  \
    X(HardwareMissing, -241, Execution, "Hardware missing")              \
    X(MassStorageError, -250, Execution, "Mass storage error")           \
    X(QueueOverflow, -350, DeviceSpecific, "Queue overflow")             \
    X(InputBufferOverrun, -363, DeviceSpecific, "Input buffer overrun")

enum class ScpiCode {
#define TOVRIK_SCPI_CODE(name, code, klass, text) name = (code),
    TOVRIK_SCPI_ERRORS(TOVRIK_SCPI_CODE)
#undef TOVRIK_SCPI_CODE
};

// The classes of negative codes, each a range of 100, and the event status bit each sets.
enum class ScpiClass { Command, Execution, DeviceSpecific, Query };

struct ScpiClassRow {
    ScpiClass id;
    int highest;  // -100, -200, ...: the class holds highest down to highest - 99
    std::uint8_t esrBit;
};

inline constexpr std::array<ScpiClassRow, 4> kScpiClasses = {{
    {ScpiClass::Command, -100, 0x20},
    {ScpiClass::Execution, -200, 0x10},
    {ScpiClass::DeviceSpecific, -300, 0x08},
    {ScpiClass::Query, -400, 0x04},
}};

// Empty for a code outside every class (0, positive device codes).
constexpr std::optional<ScpiClassRow> ClassOf(int code) {
    for (const ScpiClassRow& row : kScpiClasses) {
        if (code <= row.highest && code > row.highest - 100) return row;
    }
    return std::nullopt;
}

constexpr std::string_view StandardText(ScpiCode code) {
    switch (code) {
#define TOVRIK_SCPI_TEXT(name, code, klass, text) \
    case ScpiCode::name:                          \
        return text;
        TOVRIK_SCPI_ERRORS(TOVRIK_SCPI_TEXT)
#undef TOVRIK_SCPI_TEXT
    }
    return {};
}

// Every row: a text, and a code within the class it names.
#define TOVRIK_SCPI_CHECK(name, code, klass, text)                          \
    static_assert(std::string_view(text).size() > 0, #name " has no text"); \
    static_assert(ClassOf(code) && ClassOf(code)->id == ScpiClass::klass,   \
                  #name " is outside its class");
TOVRIK_SCPI_ERRORS(TOVRIK_SCPI_CHECK)
#undef TOVRIK_SCPI_CHECK

}  // namespace tovrik::cli
