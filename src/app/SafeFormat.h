// Formatting of texts that come from the patch's strings file. Such a text is
// data, not code: it is never handed to printf. Only conversions that take
// the program's own arguments, in order and of the right kind, are honoured.
#pragma once

#include <cstdint>

struct FormatArg {
    enum Kind { kInteger, kString } kind;
    int32_t integer;
    const char* text;

    static FormatArg Integer(int32_t value) { return FormatArg{kInteger, value, nullptr}; }
    static FormatArg String(const char* value) { return FormatArg{kString, 0, value}; }
};

// Formats format with args into destination (size bytes; the result is cut
// to size - 1 characters and always terminated). Accepted conversions: d, i,
// u, x, X, o for an integer argument and s for a string argument, each with
// the flags "-+ #0", a width and a precision written as digits; "%%" is a
// percent sign. Fewer conversions than arguments are fine. A text with any
// other conversion, or with more conversions than arguments, is copied
// unformatted. Returns true when the text was formatted.
bool FormatText(char* destination, uint32_t size, const char* format, const FormatArg* args, uint32_t argCount);

// Copies text into destination (size bytes), cut to size - 1 characters and
// terminated. Returns false when it had to be cut.
bool CopyText(char* destination, uint32_t size, const char* text);

// Appends text to the terminated text in destination, cut to fit. Returns
// false when it had to be cut.
bool AppendText(char* destination, uint32_t size, const char* text);
