#pragma once
// Text as stored: Jet 3 in the database's single-byte code page, Jet 4 in UCS-2, either
// plain or with Jet's compression (an FF FE marker, then runs of one-byte characters and
// two-byte characters separated by zero bytes). Everything comes out as UTF-8; new Jet 4
// text goes in from UTF-8 through the functions after the codec.

#include <cstdint>
#include <string>
#include <string_view>

#include "jet/format/bytes.h"

namespace jet {

class TextCodec {
 public:
  // `code_page` is the Windows code page of Jet 3 text (0 means 1252).
  explicit TextCodec(std::uint16_t code_page);
  ~TextCodec();
  TextCodec(const TextCodec&) = delete;
  TextCodec& operator=(const TextCodec&) = delete;

  std::uint16_t code_page() const { return code_page_; }

  std::string FromCodePage(ByteView bytes);
  std::string FromUtf16(ByteView bytes);
  // A Jet 4 text value: compressed when it starts with FF FE, else UTF-16LE.
  std::string FromJet4(ByteView bytes);

  // The two-byte units a compressed Jet 4 value stands for (FF FE stripped).
  static std::string Decompress(ByteView bytes);

 private:
  std::string Convert(void* cd, ByteView bytes, std::size_t unit);
  std::uint16_t code_page_;
  void* from_code_page_;
  void* from_utf16_;
};

// UTF-8 to UCS-2 code units. Throws jet::Error (TypeMismatch) naming `what` when the text
// is not valid UTF-8 or holds characters outside the basic multilingual plane.
std::u16string ToUcs2(std::string_view utf8, const std::string& what);

// The stored bytes: plain UCS-2 LE, or the compressed form when `compress` is set and it
// is shorter. Only text whose characters all lie below U+0100 (and are not NUL) takes the
// compressed form, so no mode switches are ever written.
std::string StoreText(const std::u16string& text, bool compress);

// Plain UCS-2 LE bytes (names in table definitions, the header password).
std::string Ucs2Bytes(const std::u16string& text);

// ---- How Jet compares text: the one rule for names, statements and keys ----

// Jet compares text without regard to the case of ASCII letters (its General sort order
// gives upper and lower case one code); other bytes compare as they are.
inline char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
std::string FoldCase(std::string_view s);
// -1, 0 or 1 as `a` sorts before, with or after `b`, case aside.
int CompareFolded(std::string_view a, std::string_view b);
// Names of tables, columns, indexes and relationships: equal but for case.
inline bool SameName(std::string_view a, std::string_view b) { return CompareFolded(a, b) == 0; }
// Text as an index key holds it, and as a relationship matches it: case aside and without
// trailing spaces, which an index key leaves out. Two texts with the same KeyText meet in
// an index and in a relationship.
std::string KeyText(std::string_view s);

}  // namespace jet
