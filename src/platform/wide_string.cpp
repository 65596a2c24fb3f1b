#include "platform/wide_string.h"

#include <wctype.h>

namespace vorlin {
namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsValidCodePoint(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

void AppendUtf8(std::string& out, uint32_t c) {
  if (!IsValidCodePoint(c)) c = kReplacement;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

wchar_t FoldCase(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return wchar_t(c - L'A' + L'a');
  if (c < 0x80) return c;
  return wchar_t(::towlower(wint_t(c)));
}

}  // namespace

std::string ToUtf8(const wchar_t* text) {
  std::string out;
  if (!text) return out;
  for (; *text; ++text) AppendUtf8(out, uint32_t(*text));
  return out;
}

std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.c_str()); }

std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    uint8_t b = uint8_t(text[i]);
    uint32_t c;
    int extra;
    uint32_t minimum;
    if (b < 0x80) {
      c = b;
      extra = 0;
      minimum = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
      minimum = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
      minimum = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
      minimum = 0x10000;
    } else {
      out += wchar_t(kReplacement);
      ++i;
      continue;
    }
    size_t j = 1;
    bool ok = true;
    for (; j <= size_t(extra); ++j) {
      if (i + j >= n || (uint8_t(text[i + j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (uint8_t(text[i + j]) & 0x3F);
    }
    if (!ok || c < minimum || !IsValidCodePoint(c)) {
      out += wchar_t(kReplacement);
      i += ok ? size_t(extra) + 1 : j;
      continue;
    }
    out += wchar_t(c);
    i += size_t(extra) + 1;
  }
  return out;
}

bool EqualNoCase(wchar_t a, wchar_t b) { return a == b || FoldCase(a) == FoldCase(b); }

bool EqualsNoCase(const wchar_t* a, const wchar_t* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!EqualNoCase(a[i], b[i])) return false;
    if (a[i] == 0) return true;
  }
  return true;
}

bool EndsWithNoCase(const wchar_t* name, const wchar_t* suffix) {
  if (!name || !suffix) return false;
  size_t nameLength = 0;
  while (name[nameLength]) ++nameLength;
  size_t suffixLength = 0;
  while (suffix[suffixLength]) ++suffixLength;
  if (nameLength < suffixLength) return false;
  return EqualsNoCase(name + nameLength - suffixLength, suffix, suffixLength);
}

std::u16string ToUtf16(const wchar_t* text) {
  std::u16string out;
  if (!text) return out;
  for (; *text; ++text) {
    uint32_t c = uint32_t(*text);
    if (!IsValidCodePoint(c)) c = kReplacement;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
  }
  return out;
}

}  // namespace platform
}  // namespace vorlin
