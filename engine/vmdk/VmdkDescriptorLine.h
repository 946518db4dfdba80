// The line grammar of a descriptor text, shared by the parser and the
// rewriter so that both see the same key and extent lines. Every piece is a
// view into the line, so that the rewriter can put a line back together
// with only its value changed. Private to the descriptor files.
//
// The grammar's delimiters (blank, tab, CR, LF, "#", "=", double quote) are
// all below 0x40, and no byte below 0x40 is ever part of a multibyte
// character in Shift_JIS, EUC-JP or UTF-8; so lines are scanned byte by
// byte, and a trail byte can never be taken for a delimiter.
#ifndef QVT_ENGINE_VMDK_VMDKDESCRIPTORLINE_H
#define QVT_ENGINE_VMDK_VMDKDESCRIPTORLINE_H

#include <cstdint>

#include "TextEncoding.h"

namespace qvt::vmdk {

// The next line of `text` from *pos (which moves past its break: CR, LF or
// CR LF); false at the end of the text.
bool NextLine(TextView text, std::uint32_t* pos, TextView* line, bool* hasBreak);

enum LineKind { LINE_BLANK, LINE_KEY, LINE_EXTENT, LINE_OTHER };

// lead + key + separator + [quote] value [quote] + rest == the line.
struct KeyLine {
  TextView lead;  // blanks and tabs before the key
  TextView key;
  TextView separator;  // blanks, "=", blanks
  TextView value;      // without its quotes
  bool quoted;
  TextView rest;  // blanks and the comment behind the value
};

// lead access gap1 size gap2 type gap3 "name" offsetGap offset rest
struct ExtentLine {
  TextView lead;
  TextView access;
  TextView gap1;
  TextView size;
  TextView gap2;
  TextView type;
  TextView gap3;
  TextView name;  // without its quotes
  bool hasOffset;
  TextView offsetGap;  // empty without an offset
  TextView offset;
  TextView rest;
};

struct Line {
  LineKind kind;
  KeyLine key;        // for LINE_KEY
  ExtentLine extent;  // for LINE_EXTENT
};

// Classifies a line (without its break). An extent line is recognised by
// its shape alone; whether its access, size, type and offset make sense is
// the parser's question.
LineKind ClassifyLine(TextView line, Line* out);

enum KnownKey {
  KEY_VERSION,
  KEY_ENCODING,
  KEY_CID,
  KEY_PARENT_CID,
  KEY_CREATE_TYPE,
  KEY_PARENT_FILE_NAME_HINT,
  KEY_HW_VERSION,
  KEY_UUID,
  KEY_CYLINDERS,
  KEY_HEADS,
  KEY_SECTORS,
  KEY_ADAPTER_TYPE,
  KEY_COUNT,
  KEY_UNKNOWN = KEY_COUNT,
};

// The known key a key names, compared ignoring case; KEY_UNKNOWN otherwise.
KnownKey FindKnownKey(TextView key, TextEncoding e);
// Its name as the engine writes it ("ddb.geometry.cylinders", ...).
const char* KnownKeyName(KnownKey key);

// True when the key begins with "ddb." (ignoring case).
bool IsDdbKey(TextView key, TextEncoding e);

// The view without blanks and tabs at either end.
TextView TrimBlanks(TextView v);
// A decimal number: after trimming, digits 0-9 only, at least one, and no
// more than `max`.
bool ParseDecimal(TextView v, std::uint64_t max, std::uint64_t* value);

}  // namespace qvt::vmdk

#endif
