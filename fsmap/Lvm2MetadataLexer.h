// Tokens of LVM2's metadata text: identifiers and the punctuation of
// sections and keys, and the values that follow "=". The text is a counted
// slice; nothing here reads past its length or expects a NUL.
#ifndef QVT_FSMAP_LVM2METADATALEXER_H
#define QVT_FSMAP_LVM2METADATALEXER_H

#include <cstdint>

#include "TextEncoding.h"

namespace qvt {

enum Lvm2TokenKind : std::uint8_t {
  LVM2_TOKEN_END,
  LVM2_TOKEN_IDENTIFIER,
  LVM2_TOKEN_OPEN,    // {
  LVM2_TOKEN_CLOSE,   // }
  LVM2_TOKEN_EQUALS,  // =
  LVM2_TOKEN_BAD,     // anything else: the text is not one this reader takes
};

enum Lvm2ValueKind : std::uint8_t {
  LVM2_VALUE_STRING,  // text: between the quotes
  LVM2_VALUE_WORD,    // text: the bare word
  LVM2_VALUE_LIST,    // text: between the brackets, elements already checked
};

struct Lvm2Value {
  Lvm2ValueKind kind;
  TextView text;
};

struct Lvm2Lexer {
  const std::uint8_t* text;
  std::uint32_t length;
  std::uint32_t at;
};

inline Lvm2Lexer MakeLvm2Lexer(TextView text) { return Lvm2Lexer{text.data, text.length, 0}; }

// The next token where a key, a section or a section's end may stand; the
// identifier's text when it is one.
Lvm2TokenKind Lvm2NextToken(Lvm2Lexer* lexer, TextView* identifier);

// The value after an "=": false when none stands there or it is malformed.
bool Lvm2NextValue(Lvm2Lexer* lexer, Lvm2Value* value);

// Walks the elements of a list value (a lexer over its text); false after
// the last one.
bool Lvm2NextListElement(Lvm2Lexer* list, Lvm2Value* element);

// An unsigned 32-bit decimal number written as a bare word of digits.
bool Lvm2ValueNumber(const Lvm2Value& value, std::uint32_t* number);

// True when the text is exactly the ASCII string `ascii`.
bool Lvm2TextIs(TextView text, const char* ascii);

}  // namespace qvt

#endif
