#include "app/SafeFormat.h"

#include <cstring>

namespace {

// Widths and precisions beyond the largest text the program shows are
// pointless; keeping them bounded keeps the arithmetic simple.
constexpr uint32_t kMaxField = 4096;

struct Conversion {
    bool left = false, plus = false, space = false, alternate = false, zero = false;
    uint32_t width = 0;
    bool hasPrecision = false;
    uint32_t precision = 0;
    char type = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

uint32_t ParseNumber(const char** p) {
    uint32_t value = 0;
    while (IsDigit(**p)) {
        if (value < kMaxField) value = value * 10 + uint32_t(**p - '0');
        ++*p;
    }
    return value < kMaxField ? value : kMaxField;
}

// Parses the conversion after a '%' at *p; false for anything not accepted.
bool ParseConversion(const char** p, Conversion* c) {
    for (;; ++*p) {
        char f = **p;
        if (f == '-') c->left = true;
        else if (f == '+') c->plus = true;
        else if (f == ' ') c->space = true;
        else if (f == '#') c->alternate = true;
        else if (f == '0') c->zero = true;
        else break;
    }
    c->width = ParseNumber(p);
    if (**p == '.') {
        ++*p;
        c->hasPrecision = true;
        c->precision = ParseNumber(p);
    }
    c->type = **p;
    if (!std::strchr("diuxXos", c->type) || c->type == '\0') return false;
    ++*p;
    return true;
}

bool Matches(const Conversion& c, const FormatArg& arg) {
    return c.type == 's' ? arg.kind == FormatArg::kString : arg.kind == FormatArg::kInteger;
}

// Bounded output: keeps one byte for the terminator.
struct Output {
    char* data;
    uint32_t size;
    uint32_t length;
    bool cut;

    bool Full() const { return length + 1 >= size; }
    void Put(char c) {
        if (Full()) {
            cut = true;
            return;
        }
        data[length++] = c;
    }
    void Repeat(char c, uint32_t count) {
        for (uint32_t i = 0; i < count && !Full(); ++i) Put(c);
        if (count && Full()) cut = true;
    }
    void Text(const char* text, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) Put(text[i]);
    }
};

void RenderString(Output* out, const Conversion& c, const char* text) {
    if (!text) text = "";
    uint32_t length = 0;
    while (text[length] && (!c.hasPrecision || length < c.precision)) ++length;
    uint32_t pad = c.width > length ? c.width - length : 0;
    if (!c.left) out->Repeat(' ', pad);
    out->Text(text, length);
    if (c.left) out->Repeat(' ', pad);
}

void RenderInteger(Output* out, const Conversion& c, int32_t value) {
    bool isSigned = c.type == 'd' || c.type == 'i';
    uint32_t base = c.type == 'o' ? 8 : (c.type == 'x' || c.type == 'X') ? 16 : 10;
    const char* digitSet = c.type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    bool negative = isSigned && value < 0;
    uint32_t magnitude = negative ? 0u - uint32_t(value) : uint32_t(value);

    char digits[16];  // 32 bits in octal are 11 digits
    uint32_t count = 0;
    for (uint32_t v = magnitude; v; v /= base) digits[count++] = digitSet[v % base];
    // Precision is the least number of digits; without one a 0 is one digit.
    uint32_t minimumDigits = c.hasPrecision ? c.precision : 1;
    uint32_t zeros = minimumDigits > count ? minimumDigits - count : 0;
    if (c.alternate && base == 8 && zeros == 0 && (count == 0 || digits[count - 1] != '0')) zeros = 1;

    char prefix[3] = {0, 0, 0};
    if (negative) prefix[0] = '-';
    else if (isSigned && c.plus) prefix[0] = '+';
    else if (isSigned && c.space) prefix[0] = ' ';
    else if (c.alternate && base == 16 && magnitude) {
        prefix[0] = '0';
        prefix[1] = c.type;
    }
    uint32_t prefixLength = uint32_t(std::strlen(prefix));

    uint32_t body = prefixLength + zeros + count;
    uint32_t pad = c.width > body ? c.width - body : 0;
    bool zeroPad = c.zero && !c.left && !c.hasPrecision;
    if (!c.left && !zeroPad) out->Repeat(' ', pad);
    out->Text(prefix, prefixLength);
    if (zeroPad) out->Repeat('0', pad);
    out->Repeat('0', zeros);
    while (count) out->Put(digits[--count]);
    if (c.left) out->Repeat(' ', pad);
}

}  // namespace

bool CopyText(char* destination, uint32_t size, const char* text) {
    if (!destination || size == 0) return false;
    size_t length = text ? std::strlen(text) : 0;
    bool fits = length < size;
    if (!fits) length = size - 1;
    if (length) std::memmove(destination, text, length);
    destination[length] = '\0';
    return fits;
}

bool AppendText(char* destination, uint32_t size, const char* text) {
    if (!destination || size == 0) return false;
    size_t length = std::strlen(destination);
    if (length >= size) return false;
    return CopyText(destination + length, uint32_t(size - length), text);
}

bool FormatText(char* destination, uint32_t size, const char* format, const FormatArg* args, uint32_t argCount) {
    if (!destination || size == 0) return false;
    if (!format) format = "";

    // First pass: every conversion must take the next argument.
    uint32_t used = 0;
    for (const char* p = format; *p;) {
        if (*p++ != '%') continue;
        if (*p == '%') {
            ++p;
            continue;
        }
        Conversion c;
        if (!ParseConversion(&p, &c) || used >= argCount || !Matches(c, args[used])) {
            CopyText(destination, size, format);
            return false;
        }
        ++used;
    }

    Output out{destination, size, 0, false};
    used = 0;
    for (const char* p = format; *p;) {
        if (*p != '%') {
            out.Put(*p++);
            continue;
        }
        ++p;
        if (*p == '%') {
            out.Put(*p++);
            continue;
        }
        Conversion c;
        ParseConversion(&p, &c);
        const FormatArg& arg = args[used++];
        if (c.type == 's')
            RenderString(&out, c, arg.text);
        else
            RenderInteger(&out, c, arg.integer);
    }
    destination[out.length] = '\0';
    return true;
}
