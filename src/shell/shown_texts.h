// Every text the relay shows its user by name: the status line's texts, the message boxes' texts
// and the line a refused second start writes. A text that is a format is listed as the format; its
// fixed parts are what a reader of the guide meets. The pilots' guide explains each of them.
#pragma once

#include <span>

enum class ShownTextKind {
    StatusLine, // control 104 of the main dialog
    MessageBox, // a modal box
    Line,       // a line on the console (Linux)
};

struct ShownText {
    ShownTextKind kind;
    const char* name; // the constant the code shows it from
    const char* text; // the text, or the format for one with values in it
};

std::span<const ShownText> ShownTexts();
