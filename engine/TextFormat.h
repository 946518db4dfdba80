// Formatted text into a ByteBuffer, in any engine encoding.
#ifndef QVT_ENGINE_TEXTFORMAT_H
#define QVT_ENGINE_TEXTFORMAT_H

#include <cstdarg>

#include "ByteBuffer.h"
#include "TextEncoding.h"

namespace qvt {

// Appends the formatted text to `out` in outEnc and terminates it. The
// format is NUL-terminated text in formatEnc. Conversions: "%%"; "%d", "%i"
// (int32_t, no width); "%u", "%x", "%X" (uint32_t, "0" flag and width);
// "%s" (const void* NUL-terminated text, then its TextEncoding); "%c"
// (uint32_t, at most 127); "%w" (int64_t); "%t" (a TextView by value, then
// its TextEncoding). Any other conversion letter of "dicCouxXeEfFgGaAsSpwt"
// fails the call, and so does a width that is not decimal, a failed
// conversion or a lack of room; `out` then keeps what was appended before the
// failure.
bool TextFormat(ByteBuffer* out, TextEncoding outEnc, const void* format, TextEncoding formatEnc,
                ...);
bool TextFormatV(ByteBuffer* out, TextEncoding outEnc, const void* format,
                 TextEncoding formatEnc, std::va_list args);

}  // namespace qvt

#endif
