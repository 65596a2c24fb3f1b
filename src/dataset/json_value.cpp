#include "json_value.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cmath>

namespace vorlin {
namespace dataset {

const JsonValue* JsonValue::Find(const char* key) const {
  if (kind != kObject) return nullptr;
  for (const auto& m : members) {
    if (m.first == key) return &m.second;
  }
  return nullptr;
}

namespace {

constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(const std::string& text) : m_text(text) {}

  bool Document(JsonValue& out, std::string& error) {
    SkipSpace();
    bool ok = Value(out, 0);
    if (ok) {
      SkipSpace();
      if (m_pos != m_text.size()) ok = Fail("text after the document");
    }
    if (!ok) error = m_error + " at byte " + std::to_string(m_pos);
    return ok;
  }

 private:
  bool Fail(const char* what) {
    if (m_error.empty()) m_error = what;
    return false;
  }
  bool AtEnd() const { return m_pos >= m_text.size(); }
  char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }
  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++m_pos;
  }
  bool Literal(const char* word) {
    const size_t n = strlen(word);
    if (m_text.compare(m_pos, n, word) != 0) return Fail("unknown word");
    m_pos += n;
    return true;
  }

  bool Value(JsonValue& out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    switch (Peek()) {
      case '{': return Object(out, depth);
      case '[': return Array(out, depth);
      case '"': out.kind = JsonValue::kString; return String(out.text);
      case 't': out.kind = JsonValue::kBool; out.boolean = true; return Literal("true");
      case 'f': out.kind = JsonValue::kBool; out.boolean = false; return Literal("false");
      case 'n': out.kind = JsonValue::kNull; return Literal("null");
      default: return Number(out);
    }
  }

  bool Object(JsonValue& out, int depth) {
    out.kind = JsonValue::kObject;
    ++m_pos;
    SkipSpace();
    if (Peek() == '}') { ++m_pos; return true; }
    for (;;) {
      SkipSpace();
      if (Peek() != '"') return Fail("expected a member name");
      std::string key;
      if (!String(key)) return false;
      if (out.Find(key.c_str())) return Fail("duplicate member name");
      SkipSpace();
      if (Peek() != ':') return Fail("expected ':'");
      ++m_pos;
      SkipSpace();
      out.members.emplace_back(std::move(key), JsonValue());
      if (!Value(out.members.back().second, depth + 1)) return false;
      SkipSpace();
      if (Peek() == ',') { ++m_pos; continue; }
      if (Peek() == '}') { ++m_pos; return true; }
      return Fail("expected ',' or '}'");
    }
  }

  bool Array(JsonValue& out, int depth) {
    out.kind = JsonValue::kArray;
    ++m_pos;
    SkipSpace();
    if (Peek() == ']') { ++m_pos; return true; }
    for (;;) {
      SkipSpace();
      out.items.emplace_back();
      if (!Value(out.items.back(), depth + 1)) return false;
      SkipSpace();
      if (Peek() == ',') { ++m_pos; continue; }
      if (Peek() == ']') { ++m_pos; return true; }
      return Fail("expected ',' or ']'");
    }
  }

  static void AppendUtf8(std::string& s, uint32_t c) {
    if (c < 0x80) {
      s += char(c);
    } else if (c < 0x800) {
      s += char(0xC0 | (c >> 6));
      s += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      s += char(0xE0 | (c >> 12));
      s += char(0x80 | ((c >> 6) & 0x3F));
      s += char(0x80 | (c & 0x3F));
    } else {
      s += char(0xF0 | (c >> 18));
      s += char(0x80 | ((c >> 12) & 0x3F));
      s += char(0x80 | ((c >> 6) & 0x3F));
      s += char(0x80 | (c & 0x3F));
    }
  }

  bool Hex4(uint32_t& value) {
    if (m_pos + 4 > m_text.size()) return Fail("short \\u escape");
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = m_text[m_pos++];
      value <<= 4;
      if (c >= '0' && c <= '9') value |= uint32_t(c - '0');
      else if (c >= 'a' && c <= 'f') value |= uint32_t(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') value |= uint32_t(c - 'A' + 10);
      else return Fail("bad \\u escape");
    }
    return true;
  }

  bool String(std::string& out) {
    ++m_pos;  // opening quote
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(m_text[m_pos++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("control character in a string");
      if (c != '\\') { out += char(c); continue; }
      if (AtEnd()) return Fail("unterminated string");
      const char e = m_text[m_pos++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t c1;
          if (!Hex4(c1)) return false;
          if (c1 >= 0xD800 && c1 < 0xDC00) {
            uint32_t c2;
            if (m_text.compare(m_pos, 2, "\\u") != 0) return Fail("lone surrogate");
            m_pos += 2;
            if (!Hex4(c2)) return false;
            if (c2 < 0xDC00 || c2 >= 0xE000) return Fail("lone surrogate");
            c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
          } else if (c1 >= 0xDC00 && c1 < 0xE000) {
            return Fail("lone surrogate");
          }
          AppendUtf8(out, c1);
          break;
        }
        default: return Fail("bad escape");
      }
    }
  }

  bool Number(JsonValue& out) {
    const size_t start = m_pos;
    if (Peek() == '-') ++m_pos;
    if (Peek() == '0') {
      ++m_pos;
    } else if (Peek() >= '1' && Peek() <= '9') {
      while (Peek() >= '0' && Peek() <= '9') ++m_pos;
    } else {
      return Fail("expected a value");
    }
    if (Peek() == '.') {
      ++m_pos;
      if (!(Peek() >= '0' && Peek() <= '9')) return Fail("bad number");
      while (Peek() >= '0' && Peek() <= '9') ++m_pos;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++m_pos;
      if (Peek() == '+' || Peek() == '-') ++m_pos;
      if (!(Peek() >= '0' && Peek() <= '9')) return Fail("bad number");
      while (Peek() >= '0' && Peek() <= '9') ++m_pos;
    }
    // strtod depends on the C locale's decimal point; the C locale is the
    // default of every process that does not change it.
    const std::string digits = m_text.substr(start, m_pos - start);
    out.kind = JsonValue::kNumber;
    out.number = strtod(digits.c_str(), nullptr);
    if (!std::isfinite(out.number)) return Fail("number out of range");
    return true;
  }

  const std::string& m_text;
  size_t m_pos = 0;
  std::string m_error;
};

}  // namespace

bool ParseJson(const std::string& text, JsonValue& out, std::string& error) {
  out = JsonValue();
  return Parser(text).Document(out, error);
}

}  // namespace dataset
}  // namespace vorlin
