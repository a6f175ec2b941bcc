#include "linux/sysfs_text.h"

namespace {

constexpr unsigned MAX_DOMAIN_DIGITS = 8;
constexpr unsigned MIN_DOMAIN_DIGITS = 4;
constexpr unsigned MAX_NUMBER_DIGITS = 16;  // 64 bits
constexpr unsigned MAX_SLOT = 0x1F;
constexpr unsigned MAX_FUNCTION = 7;

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Up to `most` lower-case hexadecimal digits at `*text` into `value`, `*text`
// moved past them; how many there were. The text ends with a NUL, which no
// digit is.
unsigned takeHex(const char** text, unsigned most, uint64_t* value) {
    *value = 0;
    unsigned digits = 0;
    for (int digit; digits < most && (digit = hexDigit(**text)) >= 0; ++*text, ++digits)
        *value = *value << 4 | static_cast<unsigned>(digit);
    return digits;
}

// Lower-case hexadecimal digits, `least` to `most` of them, then `end`.
bool readHex(const char** text, unsigned least, unsigned most, char end, uint64_t* value) {
    const char* p = *text;
    if (takeHex(&p, most, value) < least || *p != end)
        return false;
    *text = p + 1;
    return true;
}

// "0x" and a number of a resource line, then `separator`: a newline may also
// be the end of the text, a file cut after the last number.
bool readNumber(const char** text, const char* end, char separator, uint64_t* value) {
    const char* p = *text;
    if (end - p < 3 || p[0] != '0' || p[1] != 'x')
        return false;
    p += 2;
    if (takeHex(&p, MAX_NUMBER_DIGITS, value) == 0)
        return false;
    if (p == end ? separator != '\n' : *p != separator)
        return false;
    *text = p == end ? p : p + 1;
    return true;
}

}  // namespace

bool parsePciName(const char* name, PciName* parsed) {
    uint64_t domain, bus, slot, function;
    const char* p = name;
    // Printed with %04x: more than four digits only for a domain that needs them.
    if (!readHex(&p, MIN_DOMAIN_DIGITS, MAX_DOMAIN_DIGITS, ':', &domain) ||
        (p - name - 1 > static_cast<long>(MIN_DOMAIN_DIGITS) && name[0] == '0'))
        return false;
    if (!readHex(&p, 2, 2, ':', &bus) || !readHex(&p, 2, 2, '.', &slot) || !readHex(&p, 1, 1, '\0', &function) ||
        slot > MAX_SLOT || function > MAX_FUNCTION)
        return false;
    parsed->domain = static_cast<unsigned>(domain);
    parsed->bus = static_cast<unsigned>(bus);
    parsed->slot = static_cast<unsigned>(slot);
    parsed->function = static_cast<unsigned>(function);
    return true;
}

std::string parseResourceLines(const std::string& text, ResourceRange bars[BAR_COUNT]) {
    const char* p = text.c_str();
    const char* const end = p + text.size();
    for (unsigned i = 0; i < BAR_COUNT; ++i) {
        const std::string line = "line " + std::to_string(i + 1);
        if (p == end)
            return line + " (BAR" + std::to_string(i) + ") is missing";
        ResourceRange bar;
        if (!readNumber(&p, end, ' ', &bar.start) || !readNumber(&p, end, ' ', &bar.end) ||
            !readNumber(&p, end, '\n', &bar.flags))
            return line + " is not three hexadecimal numbers \"0xSTART 0xEND 0xFLAGS\"";
        bars[i] = bar;
    }
    return "";
}
