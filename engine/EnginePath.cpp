#include "EnginePath.h"

#include "TextCompare.h"
#include "TextConvert.h"

namespace qvt {
namespace {

// Working storage of one path in any encoding: 520 characters of up to four
// bytes each.
constexpr std::uint32_t kWorkBytes = kPathBufferSize * 4;
// Each component takes at least one character and one separator.
constexpr std::uint32_t kMaxComponents = kWorkBytes / 2;

struct Span {
  std::uint32_t offset;
  std::uint32_t length;
};

// Length of the character at `at`: a unit that cannot start a character
// counts as one unit of its own, and a character cut off by the end of the
// text ends it.
std::uint32_t CharAt(TextView text, TextEncoding e, std::uint32_t at) {
  const std::uint32_t left = text.length - at;
  const std::uint32_t length = CharLength(e, text.data + at, left);
  if (length != 0) return length;
  const std::uint32_t unit = UnitSize(e);
  return unit <= left ? unit : left;
}

bool IsChar(TextView text, TextEncoding e, std::uint32_t at, std::uint32_t length, char c) {
  return IsAsciiChar(e, text.data + at, length, c);
}

bool IsSeparator(TextView text, TextEncoding e, std::uint32_t at, std::uint32_t length) {
  return IsChar(text, e, at, length, '\\') || IsChar(text, e, at, length, '/');
}

bool IsAsciiLetter(TextView text, TextEncoding e, std::uint32_t at, std::uint32_t length) {
  for (char c = 'A'; c <= 'Z'; ++c) {
    if (IsChar(text, e, at, length, c) || IsChar(text, e, at, length, static_cast<char>(c + 32))) {
      return true;
    }
  }
  return false;
}

// Byte offsets of the first `count` characters' ends; fewer when the text is
// shorter. Returns how many characters there were.
std::uint32_t FirstChars(TextView text, TextEncoding e, std::uint32_t count, std::uint32_t* ends) {
  std::uint32_t at = 0;
  std::uint32_t n = 0;
  while (n < count && at < text.length) {
    at += CharAt(text, e, at);
    ends[n++] = at;
  }
  return n;
}

// Byte length of the root of a path (0 when it has none).
std::uint32_t RootLength(TextView text, TextEncoding e) {
  std::uint32_t ends[3];
  const std::uint32_t n = FirstChars(text, e, 3, ends);
  if (n == 0) return 0;
  if (PathIsDriveAbsolute(text, e)) return ends[2];
  const std::uint32_t first = ends[0];
  if (!IsChar(text, e, 0, first, '\\')) return 0;
  if (n < 2 || !IsChar(text, e, first, ends[1] - first, '\\')) return first;
  // "\\server\": the root runs to and includes the separator after the server.
  std::uint32_t at = ends[1];
  while (at < text.length) {
    const std::uint32_t length = CharAt(text, e, at);
    at += length;
    if (IsSeparator(text, e, at - length, length)) break;
  }
  return at;
}

// Splits text[from, end) at separators into non-empty components.
bool SplitComponents(TextView text, TextEncoding e, std::uint32_t from, Span* parts,
                     std::uint32_t* count) {
  *count = 0;
  std::uint32_t start = from;
  std::uint32_t at = from;
  while (at <= text.length) {
    std::uint32_t length = 0;
    const bool end = at == text.length;
    if (!end) length = CharAt(text, e, at);
    if (end || IsSeparator(text, e, at, length)) {
      if (at > start) {
        if (*count == kMaxComponents) return false;
        parts[(*count)++] = Span{start, at - start};
      }
      if (end) break;
      start = at + length;
    }
    at += length;
  }
  return true;
}

bool IsDots(TextView text, TextEncoding e, Span part, std::uint32_t dots) {
  std::uint32_t at = part.offset;
  for (std::uint32_t i = 0; i < dots; ++i) {
    if (at >= part.offset + part.length) return false;
    const std::uint32_t length = CharAt(text, e, at);
    if (!IsChar(text, e, at, length, '.')) return false;
    at += length;
  }
  return at == part.offset + part.length;
}

bool AppendAscii(ByteBuffer* out, TextEncoding e, const char* text) {
  for (; *text != '\0'; ++text) {
    std::uint8_t unit[4];
    const std::uint32_t n = EncodeAscii(e, *text, unit);
    if (!BufferAppend(out, unit, n)) return false;
  }
  return true;
}

// Copies `in` into `work` in encoding `to`.
bool ToEncoding(TextView in, TextEncoding from, ByteBuffer* work, TextEncoding to) {
  BufferReset(work);
  if (from == to) return BufferAppendView(work, in);
  return TextConvertAppend(work, to, in, from);
}

}  // namespace

bool PathIsDriveAbsolute(TextView path, TextEncoding e) {
  std::uint32_t ends[3];
  return FirstChars(path, e, 3, ends) == 3 && IsAsciiLetter(path, e, 0, ends[0]) &&
         IsChar(path, e, ends[0], ends[1] - ends[0], ':') &&
         IsChar(path, e, ends[1], ends[2] - ends[1], '\\');
}


bool PathNormalize(TextView path, TextEncoding e, PathBuffer* out) {
  Span parts[kMaxComponents];
  const std::uint32_t root = RootLength(path, e);
  std::uint32_t count = 0;
  if (!SplitComponents(path, e, root, parts, &count)) return false;

  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (IsDots(path, e, parts[i], 1)) continue;
    if (IsDots(path, e, parts[i], 2)) {
      if (kept > 0 && !IsDots(path, e, parts[kept - 1], 2)) {
        --kept;
        continue;
      }
      if (root != 0) return false;  // climbing above the root
    }
    parts[kept++] = parts[i];
  }

  ByteBuffer* b = &out->buffer;
  BufferReset(b);
  bool ok = BufferAppend(b, path.data, root);
  for (std::uint32_t i = 0; ok && i < kept; ++i) {
    if (i > 0) ok = AppendAscii(b, e, "\\");
    if (ok) ok = BufferAppend(b, path.data + parts[i].offset, parts[i].length);
  }
  if (ok) ok = BufferTerminate(b, e);
  if (!ok) BufferReset(b);
  return ok;
}

bool PathResolve(TextView base, TextEncoding baseEnc, TextView path, TextEncoding pathEnc,
                 PathBuffer* out, TextEncoding outEnc) {
  std::uint8_t pathStore[kWorkBytes];
  std::uint8_t joinStore[kWorkBytes * 2];
  ByteBuffer converted;
  BufferInit(&converted, pathStore, sizeof(pathStore));
  if (!ToEncoding(path, pathEnc, &converted, outEnc)) return false;
  const TextView own = BufferView(converted);
  if (PathIsDriveAbsolute(own, outEnc)) return PathNormalize(own, outEnc, out);

  ByteBuffer joined;
  BufferInit(&joined, joinStore, sizeof(joinStore));
  if (!ToEncoding(base, baseEnc, &joined, outEnc)) return false;
  TextView directory;
  TextView name;
  TextView extension;
  PathSplit(BufferView(joined), outEnc, &directory, &name, &extension);
  joined.length = directory.length;
  if (!BufferAppendView(&joined, own)) return false;
  return PathNormalize(BufferView(joined), outEnc, out);
}

void PathSplit(TextView path, TextEncoding e, TextView* directory, TextView* baseName,
               TextView* extension) {
  std::uint32_t nameStart = 0;
  for (std::uint32_t at = 0; at < path.length;) {
    const std::uint32_t length = CharAt(path, e, at);
    at += length;
    if (IsSeparator(path, e, at - length, length)) nameStart = at;
  }
  std::uint32_t dot = path.length;
  for (std::uint32_t at = nameStart; at < path.length;) {
    const std::uint32_t length = CharAt(path, e, at);
    if (IsChar(path, e, at, length, '.')) dot = at;
    at += length;
  }
  *directory = TextView{path.data, nameStart};
  *baseName = TextView{path.data + nameStart, dot - nameStart};
  if (dot == path.length) {
    *extension = TextView{path.data + path.length, 0};
  } else {
    const std::uint32_t dotLength = CharAt(path, e, dot);
    *extension = TextView{path.data + dot + dotLength, path.length - dot - dotLength};
  }
}

bool PathMakeRelative(TextView from, TextView to, TextEncoding e, PathBuffer* out) {
  Span fromParts[kMaxComponents];
  Span toParts[kMaxComponents];
  std::uint32_t ends[3];
  const std::uint32_t fromSkip = FirstChars(from, e, 3, ends) == 3 ? ends[2] : from.length;
  const std::uint32_t toSkip = FirstChars(to, e, 3, ends) == 3 ? ends[2] : to.length;
  std::uint32_t fromCount = 0;
  std::uint32_t toCount = 0;
  if (!SplitComponents(from, e, fromSkip, fromParts, &fromCount) ||
      !SplitComponents(to, e, toSkip, toParts, &toCount)) {
    return false;
  }

  // The last component of `to` is its file name, unless `to` ends in a
  // separator; only directory components are shared.
  std::uint32_t toDirectories = toCount;
  if (toCount > 0 && toParts[toCount - 1].offset + toParts[toCount - 1].length == to.length) {
    --toDirectories;
  }
  std::uint32_t shared = 0;
  while (shared < fromCount && shared < toDirectories &&
         TextEquals(TextView{from.data + fromParts[shared].offset, fromParts[shared].length},
                    TextView{to.data + toParts[shared].offset, toParts[shared].length}, e, true)) {
    ++shared;
  }

  ByteBuffer* b = &out->buffer;
  BufferReset(b);
  bool ok = true;
  for (std::uint32_t i = shared; ok && i < fromCount; ++i) ok = AppendAscii(b, e, "..\\");
  const std::uint32_t rest = shared < toCount ? toParts[shared].offset : to.length;
  if (ok) ok = BufferAppend(b, to.data + rest, to.length - rest);
  if (ok) ok = BufferTerminate(b, e);
  if (!ok) BufferReset(b);
  return ok;
}

}  // namespace qvt
