#ifndef VORLIN_DATASET_JSON_VALUE_H
#define VORLIN_DATASET_JSON_VALUE_H

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

namespace vorlin {
namespace dataset {

// A parsed JSON document. Objects keep their members in file order; a
// duplicate key is refused by the parser.
struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // The member named key, or null (also for a value that is not an object).
  const JsonValue* Find(const char* key) const;
};

// Parses text strictly (RFC 8259: no comments, no trailing commas, nesting
// at most 64 deep). False with a message naming the byte offset on error.
// Memory stays in proportion to the text's length.
bool ParseJson(const std::string& text, JsonValue& out, std::string& error);

}  // namespace dataset
}  // namespace vorlin

#endif
