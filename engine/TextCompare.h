// Comparing engine texts: byte by byte per character; when case is ignored,
// only the single-byte letters A-Z fold to a-z.
#ifndef QVT_ENGINE_TEXTCOMPARE_H
#define QVT_ENGINE_TEXTCOMPARE_H

#include "TextEncoding.h"

namespace qvt {

// <0, 0 or >0 as a sorts before, equal to or after b (same encoding).
int TextCompare(TextView a, TextView b, TextEncoding e, bool ignoreCase);
bool TextEquals(TextView a, TextView b, TextEncoding e, bool ignoreCase);
// Compares the view with an ASCII literal, first made in the view's encoding.
bool TextEqualsAscii(TextView a, TextEncoding e, const char* literal, bool ignoreCase);

}  // namespace qvt

#endif
