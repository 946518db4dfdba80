// The text rules shared by the program's own XML files (the .qvt documents
// and QVT.DAT): how a value is written, how the text of an element is read,
// and how numbers are read. tinyxml2 parses; the program prints by itself so
// that every byte of the file is its own choice.
#ifndef QVT_DOCUMENT_XMLTEXT_H
#define QVT_DOCUMENT_XMLTEXT_H

#include <tinyxml2.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qvt::xml {

inline constexpr std::string_view kDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>";

// Files larger than this are not read: neither file comes anywhere near it,
// and it keeps a stray huge file from taking the memory of the program.
inline constexpr std::uint64_t kMaxFileBytes = 64u * 1024 * 1024;

// Output, UTF-8 with CR LF line ends.
void AppendLine(std::string* out, std::string_view line);
// `<name><![CDATA[value]]></name>` on one line. CR LF and lone LF in the
// value both become CR LF in the file. A "]]>" inside the value splits the
// section ("]]]]><![CDATA[>") so that it reads back unchanged; NUL code
// units are left out, as XML cannot hold them and tinyxml2 would stop there.
void AppendTextElement(std::string* out, std::string_view name, const std::wstring& value);
// `<name>value</name>` for numbers and the type word.
void AppendPlainElement(std::string* out, std::string_view name, std::string_view value);
void AppendSigned(std::string* out, std::string_view name, std::int32_t value);
void AppendUnsigned(std::string* out, std::string_view name, std::uint32_t value);
void AppendBool(std::string* out, std::string_view name, bool value);

// Input.
// Reads a whole file through the platform's file calls; false when it cannot
// be opened or read, or is larger than kMaxFileBytes.
bool ReadFileBytes(const std::wstring& path, std::string* bytes);
// Parses UTF-8 XML; false on any parse error (nesting deeper than
// TINYXML2_MAX_ELEMENT_DEPTH among them).
bool ParseBytes(const std::string& bytes, tinyxml2::XMLDocument* document);

// The text of the first child element `name` of `parent`: that element's
// leading text and CDATA children joined (a split CDATA section gives one
// value again). False when the element is missing, its first child is no
// text, or the text is not valid UTF-8: an element without text counts as
// missing.
bool ChildText(const tinyxml2::XMLElement& parent, const char* name, std::wstring* out);
// The same text of `element` itself.
bool ElementText(const tinyxml2::XMLElement& element, std::wstring* out);
// Decimal numbers: an optional minus sign (signed only) and digits, nothing
// else, within the type's range.
bool ChildSigned(const tinyxml2::XMLElement& parent, const char* name, std::int32_t* out);
bool ChildUnsigned(const tinyxml2::XMLElement& parent, const char* name, std::uint32_t* out);
// A bool is the text "0" or "1"; false for anything else.
bool ChildBool(const tinyxml2::XMLElement& parent, const char* name, bool* out);

bool ParseSigned(std::string_view text, std::int32_t* out);
bool ParseUnsigned(std::string_view text, std::uint32_t* out);
// Strict UTF-8 to UTF-16 code units; false for malformed input.
bool Utf8ToWide(std::string_view text, std::wstring* out);

}  // namespace qvt::xml

#endif
