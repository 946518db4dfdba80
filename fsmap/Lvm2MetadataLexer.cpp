#include "Lvm2MetadataLexer.h"

namespace qvt {

namespace {

bool IsBlank(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(std::uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

bool AtEnd(const Lvm2Lexer& lexer) { return lexer.at >= lexer.length; }
std::uint8_t Peek(const Lvm2Lexer& lexer) { return lexer.text[lexer.at]; }

// LVM2 ends its lines with LF alone, and puts comments behind values
// ("creation_host = "vm"\t# Linux ..."), so a comment stops at either line
// end; waiting for CR LF would swallow the rest of the text.
void SkipBlanksAndComments(Lvm2Lexer* lexer) {
  while (!AtEnd(*lexer)) {
    const std::uint8_t c = Peek(*lexer);
    if (IsBlank(c)) {
      ++lexer->at;
    } else if (c == '#') {
      while (!AtEnd(*lexer) && Peek(*lexer) != '\n' && Peek(*lexer) != '\r') ++lexer->at;
    } else {
      return;
    }
  }
}

TextView Slice(const Lvm2Lexer& lexer, std::uint32_t from, std::uint32_t to) {
  return TextView{lexer.text + from, to - from};
}

// From a double quote to the next one on the same line; no escapes.
bool LexString(Lvm2Lexer* lexer, Lvm2Value* value) {
  const std::uint32_t from = ++lexer->at;
  while (!AtEnd(*lexer) && Peek(*lexer) != '"') {
    if (Peek(*lexer) == '\n' || Peek(*lexer) == '\r') return false;
    ++lexer->at;
  }
  if (AtEnd(*lexer)) return false;
  *value = Lvm2Value{LVM2_VALUE_STRING, Slice(*lexer, from, lexer->at)};
  ++lexer->at;
  return true;
}

// Up to a blank or a comment, and inside a list also up to "," or "]"
// (LVM2 writes `stripes = ["pv0", 0]`, with no blank after the number).
bool LexWord(Lvm2Lexer* lexer, bool inList, Lvm2Value* value) {
  const std::uint32_t from = lexer->at;
  while (!AtEnd(*lexer)) {
    const std::uint8_t c = Peek(*lexer);
    if (IsBlank(c) || c == '#' || (inList && (c == ',' || c == ']'))) break;
    if (c == '"' || c == '=') return false;
    ++lexer->at;
  }
  if (lexer->at == from) return false;
  *value = Lvm2Value{LVM2_VALUE_WORD, Slice(*lexer, from, lexer->at)};
  return true;
}

bool LexElement(Lvm2Lexer* lexer, Lvm2Value* element) {
  if (Peek(*lexer) == '"') return LexString(lexer, element);
  return LexWord(lexer, true, element);
}

// "[" elements separated by "," "]"; an empty list is allowed, a trailing
// or doubled comma is not.
bool LexList(Lvm2Lexer* lexer, Lvm2Value* value) {
  const std::uint32_t from = ++lexer->at;
  SkipBlanksAndComments(lexer);
  for (bool first = true;; first = false) {
    if (first && !AtEnd(*lexer) && Peek(*lexer) == ']') break;
    Lvm2Value element{};
    if (AtEnd(*lexer) || Peek(*lexer) == ',' || Peek(*lexer) == ']') return false;
    if (!LexElement(lexer, &element)) return false;
    SkipBlanksAndComments(lexer);
    if (AtEnd(*lexer)) return false;
    if (Peek(*lexer) == ']') break;
    if (Peek(*lexer) != ',') return false;
    ++lexer->at;
    SkipBlanksAndComments(lexer);
  }
  *value = Lvm2Value{LVM2_VALUE_LIST, Slice(*lexer, from, lexer->at)};
  ++lexer->at;  // the "]"
  return true;
}

}  // namespace

Lvm2TokenKind Lvm2NextToken(Lvm2Lexer* lexer, TextView* identifier) {
  SkipBlanksAndComments(lexer);
  if (AtEnd(*lexer)) return LVM2_TOKEN_END;
  const std::uint8_t c = Peek(*lexer);
  if (c == '{' || c == '}' || c == '=') {
    ++lexer->at;
    return c == '{' ? LVM2_TOKEN_OPEN : (c == '}' ? LVM2_TOKEN_CLOSE : LVM2_TOKEN_EQUALS);
  }
  if (!IsLetter(c)) return LVM2_TOKEN_BAD;
  const std::uint32_t from = lexer->at;
  while (!AtEnd(*lexer) && (IsLetter(Peek(*lexer)) || IsDigit(Peek(*lexer)))) ++lexer->at;
  *identifier = Slice(*lexer, from, lexer->at);
  return LVM2_TOKEN_IDENTIFIER;
}

bool Lvm2NextValue(Lvm2Lexer* lexer, Lvm2Value* value) {
  SkipBlanksAndComments(lexer);
  if (AtEnd(*lexer)) return false;
  switch (Peek(*lexer)) {
    case '"': return LexString(lexer, value);
    case '[': return LexList(lexer, value);
    default: return LexWord(lexer, false, value);
  }
}

bool Lvm2NextListElement(Lvm2Lexer* list, Lvm2Value* element) {
  SkipBlanksAndComments(list);
  if (AtEnd(*list)) return false;
  if (Peek(*list) == ',') {
    ++list->at;
    SkipBlanksAndComments(list);
    if (AtEnd(*list)) return false;
  }
  return LexElement(list, element);
}

bool Lvm2ValueNumber(const Lvm2Value& value, std::uint32_t* number) {
  if (value.kind != LVM2_VALUE_WORD || value.text.length == 0) return false;
  std::uint64_t n = 0;
  for (std::uint32_t i = 0; i < value.text.length; ++i) {
    const std::uint8_t c = value.text.data[i];
    if (!IsDigit(c)) return false;
    n = n * 10 + (c - '0');
    if (n > UINT32_MAX) return false;
  }
  *number = static_cast<std::uint32_t>(n);
  return true;
}

bool Lvm2TextIs(TextView text, const char* ascii) {
  std::uint32_t i = 0;
  for (; ascii[i] != '\0'; ++i) {
    if (i >= text.length || text.data[i] != static_cast<std::uint8_t>(ascii[i])) return false;
  }
  return i == text.length;
}

}  // namespace qvt
