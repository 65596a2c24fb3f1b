#ifndef VORLIN_PLATFORM_WIDE_STRING_H
#define VORLIN_PLATFORM_WIDE_STRING_H

#include <stddef.h>

#include <string>

namespace vorlin {
namespace platform {

// wchar_t is 32-bit here: a wide string holds code points, and paths cross
// to the OS as UTF-8. Invalid code points become U+FFFD.
std::string ToUtf8(const wchar_t* text);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Case-insensitive comparison of single characters and of name endings.
bool EqualNoCase(wchar_t a, wchar_t b);
bool EqualsNoCase(const wchar_t* a, const wchar_t* b, size_t count);
// True when name ends with suffix, compared without regard to case. A name
// shorter than the suffix matches nothing.
bool EndsWithNoCase(const wchar_t* name, const wchar_t* suffix);

// Number of UTF-16 code units the text would take (code points above U+FFFF
// count twice), and the units themselves.
std::u16string ToUtf16(const wchar_t* text);

}  // namespace platform
}  // namespace vorlin

#endif
