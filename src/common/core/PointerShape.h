#pragma once

// A window's mouse-pointer setting; the values are the setting's codes.
enum class PointerShape {
    Default = 0,
    Hourglass = 11,
    Custom = 99,  // the hand cursor, when one was loaded
};
