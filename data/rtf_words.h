#pragma once

// The control words the RTF reader acts on, and what it does with each.

#include <string_view>

namespace rtf {

enum class Action : unsigned char {
    Par,
    Line,
    Tab,
    Cell,
    Row,
    SoftBreak, // \page, \sect: end a paragraph that has content
    Char,      // a fixed character
    FootnoteMark,
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    Hidden,
    FontSize,
    Color,
    Font,
    Plain,
    Unicode,
    UnicodeSkip,
    Bin,
    CodePage, // \ansi \mac \pc \pca: fixed code page in `value`
    AnsiCpg,
    DefaultFont,
    FontCharset,
    FontCodePage,
    Red,
    Green,
    Blue,
    FontTable,
    ColorTable,
    Skip, // destination whose content is never shown
};

struct WordEntry {
    std::string_view word;
    Action action;
    char16_t value = 0;
};

// The entry of a control word the reader acts on; null for every other word, which is ignored.
const WordEntry *findWord(std::string_view word);

} // namespace rtf
