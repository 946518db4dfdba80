#include "VmdkDescriptorLine.h"

#include "TextCompare.h"

namespace qvt::vmdk {

namespace {

bool IsBlank(std::uint8_t c) { return c == ' ' || c == '\t'; }

TextView Piece(TextView line, std::uint32_t from, std::uint32_t to) {
  return TextView{line.data + from, to - from};
}

std::uint32_t SkipBlanks(TextView line, std::uint32_t at) {
  while (at < line.length && IsBlank(line.data[at])) ++at;
  return at;
}

// What may follow a value or an extent line: blanks, tabs, then nothing or
// a "#" comment.
bool IsTail(TextView line, std::uint32_t at) {
  at = SkipBlanks(line, at);
  return at == line.length || line.data[at] == '#';
}

// A run of characters that are no blank, tab, "#" or double quote; its end.
std::uint32_t TokenEnd(TextView line, std::uint32_t at) {
  while (at < line.length) {
    const std::uint8_t c = line.data[at];
    if (IsBlank(c) || c == '#' || c == '"') break;
    ++at;
  }
  return at;
}

bool ParseKeyLine(TextView line, KeyLine* out) {
  const std::uint32_t keyStart = SkipBlanks(line, 0);
  if (keyStart == line.length) return false;
  const std::uint8_t first = line.data[keyStart];
  if (first == '#' || first == '=' || first == '"') return false;
  std::uint32_t at = keyStart;
  while (at < line.length && !IsBlank(line.data[at]) && line.data[at] != '=') {
    if (line.data[at] == '#' || line.data[at] == '"') return false;
    ++at;
  }
  const std::uint32_t keyEnd = at;
  at = SkipBlanks(line, at);
  if (at == line.length || line.data[at] != '=') return false;
  ++at;
  out->lead = Piece(line, 0, keyStart);
  out->key = Piece(line, keyStart, keyEnd);
  out->quoted = false;
  if (at == line.length) {
    // "key=" and nothing else: an empty value.
    out->separator = Piece(line, keyEnd, at);
    out->value = Piece(line, at, at);
    out->rest = Piece(line, at, at);
    return true;
  }
  const std::uint32_t valueStart = SkipBlanks(line, at);
  // Blanks after "=" and nothing more make no key line.
  if (valueStart == line.length) return false;
  out->separator = Piece(line, keyEnd, valueStart);

  const std::uint8_t c = line.data[valueStart];
  if (c == '#') {
    out->value = Piece(line, valueStart, valueStart);
    out->rest = Piece(line, valueStart, line.length);
    return true;
  }
  if (c == '"') {
    std::uint32_t close = valueStart + 1;
    while (close < line.length && line.data[close] != '"') ++close;
    if (close == line.length || !IsTail(line, close + 1)) return false;
    out->quoted = true;
    out->value = Piece(line, valueStart + 1, close);
    out->rest = Piece(line, close + 1, line.length);
    return true;
  }
  std::uint32_t end = valueStart;
  while (end < line.length && !IsBlank(line.data[end]) && line.data[end] != '#') {
    if (line.data[end] == '=' || line.data[end] == '"') return false;
    ++end;
  }
  if (!IsTail(line, end)) return false;
  out->value = Piece(line, valueStart, end);
  out->rest = Piece(line, end, line.length);
  return true;
}

// One token followed by at least one blank; *at moves past both.
bool TokenAndGap(TextView line, std::uint32_t* at, TextView* token, TextView* gap) {
  const std::uint32_t end = TokenEnd(line, *at);
  if (end == *at) return false;
  const std::uint32_t next = SkipBlanks(line, end);
  if (next == end) return false;
  *token = Piece(line, *at, end);
  *gap = Piece(line, end, next);
  *at = next;
  return true;
}

bool ParseExtentLine(TextView line, ExtentLine* out) {
  std::uint32_t at = SkipBlanks(line, 0);
  out->lead = Piece(line, 0, at);
  if (!TokenAndGap(line, &at, &out->access, &out->gap1) ||
      !TokenAndGap(line, &at, &out->size, &out->gap2) ||
      !TokenAndGap(line, &at, &out->type, &out->gap3)) {
    return false;
  }
  if (at == line.length || line.data[at] != '"') return false;
  std::uint32_t close = at + 1;
  while (close < line.length && line.data[close] != '"') ++close;
  if (close == line.length) return false;
  out->name = Piece(line, at + 1, close);

  const std::uint32_t afterName = close + 1;
  const std::uint32_t next = SkipBlanks(line, afterName);
  out->hasOffset = false;
  out->offsetGap = Piece(line, afterName, afterName);
  out->offset = Piece(line, afterName, afterName);
  if (next == line.length || line.data[next] == '#') {
    out->rest = Piece(line, afterName, line.length);
    return true;
  }
  // Anything else behind the name is the offset, set off by blanks.
  if (next == afterName) return false;
  const std::uint32_t offsetEnd = TokenEnd(line, next);
  if (offsetEnd == next || !IsTail(line, offsetEnd)) return false;
  out->hasOffset = true;
  out->offsetGap = Piece(line, afterName, next);
  out->offset = Piece(line, next, offsetEnd);
  out->rest = Piece(line, offsetEnd, line.length);
  return true;
}

constexpr const char* kKnownKeyNames[KEY_COUNT] = {
    "version",
    "encoding",
    "CID",
    "parentCID",
    "createType",
    "parentFileNameHint",
    "ddb.virtualHWVersion",
    "ddb.uuid",
    "ddb.geometry.cylinders",
    "ddb.geometry.heads",
    "ddb.geometry.sectors",
    "ddb.adapterType",
};

}  // namespace

bool NextLine(TextView text, std::uint32_t* pos, TextView* line, bool* hasBreak) {
  if (*pos >= text.length) return false;
  std::uint32_t end = *pos;
  while (end < text.length && text.data[end] != '\r' && text.data[end] != '\n') ++end;
  *line = Piece(text, *pos, end);
  *hasBreak = end < text.length;
  if (end < text.length && text.data[end] == '\r' && end + 1 < text.length &&
      text.data[end + 1] == '\n') {
    *pos = end + 2;
  } else {
    *pos = end < text.length ? end + 1 : end;
  }
  return true;
}

LineKind ClassifyLine(TextView line, Line* out) {
  const std::uint32_t first = SkipBlanks(line, 0);
  if (first == line.length || line.data[first] == '#') {
    out->kind = LINE_BLANK;
  } else if (ParseKeyLine(line, &out->key)) {
    out->kind = LINE_KEY;
  } else if (ParseExtentLine(line, &out->extent)) {
    out->kind = LINE_EXTENT;
  } else {
    out->kind = LINE_OTHER;
  }
  return out->kind;
}

KnownKey FindKnownKey(TextView key, TextEncoding e) {
  for (int k = 0; k < KEY_COUNT; ++k) {
    if (TextEqualsAscii(key, e, kKnownKeyNames[k], true)) return static_cast<KnownKey>(k);
  }
  return KEY_UNKNOWN;
}

const char* KnownKeyName(KnownKey key) { return key < KEY_COUNT ? kKnownKeyNames[key] : ""; }

bool IsDdbKey(TextView key, TextEncoding e) {
  return key.length >= 4 && TextEqualsAscii(TextView{key.data, 4}, e, "ddb.", true);
}

TextView TrimBlanks(TextView v) {
  std::uint32_t from = 0;
  std::uint32_t to = v.length;
  while (from < to && IsBlank(v.data[from])) ++from;
  while (to > from && IsBlank(v.data[to - 1])) --to;
  return TextView{v.data + from, to - from};
}

bool ParseDecimal(TextView v, std::uint64_t max, std::uint64_t* value) {
  const TextView digits = TrimBlanks(v);
  if (digits.length == 0) return false;
  std::uint64_t n = 0;
  for (std::uint32_t i = 0; i < digits.length; ++i) {
    const std::uint8_t c = digits.data[i];
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = c - '0';
    // A number past the field's width is refused rather than wrapped: a
    // wrapped extent size would describe a different disk.
    if (n > (max - digit) / 10) return false;
    n = n * 10 + digit;
  }
  *value = n;
  return true;
}

}  // namespace qvt::vmdk
