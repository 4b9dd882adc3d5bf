#pragma once
// Taking request URLs apart, percent-decoding them (RFC 3986 section 2.1), keeping a decoded
// path below the root, and percent-encoding names written into links. Texts are Shift-JIS
// bytes; a decoded text that holds bytes from 0x80 up is passed through ConvertToShiftJis
// (or read as UTF-8, see IsShiftJisUrlPath), so a URL sent in UTF-8 or EUC-JP ends up in
// Shift-JIS. None of these functions fails;
// IsShiftJisUrlPath tells whether a path survives the decoding intact.

#include <string>
#include <string_view>

// The text before the first '?' (the whole URL when it has none).
std::string GetUrlPath(const std::string& url);

// The text after the first '?' (empty when it has none).
std::string GetUrlQuery(const std::string& url);

// Percent-decodes a query: "%" with two following bytes becomes the byte of their leading
// hexadecimal digits ("%4g" gives 0x04 and drops "4g"), '+' becomes a blank. A "%" whose digits give 0
// ("%00", "%zz") is dropped and the bytes after it are kept; a "%" with fewer than two bytes
// after it is kept.
std::string DecodeUrlText(const std::string& text);

// The request path as a local path below the root: trims white space, percent-decodes as
// DecodeUrlText does but keeps '+', turns '\' into '/' (':' is a name's own character
// here), collapses "//", "/./" and "/../" to "/" (not resolved against the previous
// segment: /a/../b is /a/b) and a final "/." or "/.." to "/". The result begins with '/'
// and has no empty, "." or ".." segment. A '\' that is the second byte of a Shift-JIS
// character is kept.
std::string NormalizeUrlPath(const std::string& path);

// Whether NormalizeUrlPath's decoding of `path` gives faithful Shift-JIS: no conversion
// from UTF-8 or EUC-JP put '?' in place of a character, and every byte belongs to a
// character that has a Unicode form, so that a file name made of it needs no substitute.
// Bytes the detection reads as EUC-JP or cannot decide on are read as UTF-8 when they are
// well-formed UTF-8 (browsers send UTF-8): so "café" in UTF-8 is refused rather than read
// as EUC-JP kanji, and "¢" becomes 0x8191. A path without bytes from 0x80 up always is.
bool IsShiftJisUrlPath(const std::string& path);

// Whether NormalizeUrlPath turns a '\' of `path`, once decoded, into '/': a file written
// under that path would get another name than the one asked for.
bool HoldsBackslashSeparator(const std::string& path);

// Whether `path`, decoded and with '\' read as '/' as NormalizeUrlPath reads it, holds a ".."
// segment (the last one included), which NormalizeUrlPath collapses rather than resolves:
// "/a/b/.." names a/b there, not a.
bool HoldsDotDotSegment(const std::string& path);

// Whether percent-decoding `path` gives a byte below 0x20 or 0x7F, a NUL included: a "%"
// whose leading hexadecimal digits give 0 ("%00", "%0g"), which the decoding drops rather
// than put a NUL into the text.
bool DecodesToControlByte(const std::string& path);

// Whether `path` is one of the plain paths most requests ask for, which need no decoding:
// rooted, printable ASCII without '%' or '\', no empty segment but a last one, and no "."
// or ".." segment. NormalizeUrlPath gives such a path back as it is, and neither
// HoldsDotDotSegment, DecodesToControlByte nor HoldsBackslashSeparator holds for it.
bool IsPlainUrlPath(std::string_view path);

// Writes as "%hh" (lower-case hexadecimal) the bytes a link in a Shift-JIS page must not carry
// raw: 0x00-0x20 and # % " ' < > ? \ * | :. The second byte of a Shift-JIS character is
// copied with its lead byte.
std::string EscapeUrl(const std::string& text);
// The same, appended to `out`.
void AppendEscapedUrl(std::string& out, std::string_view text);

// As EscapeUrl, and also every byte from 0x80 up, so the result is plain ASCII; here every
// byte stands alone, a trail byte included.
std::string EscapeUrlAll(const std::string& text);

// A Shift-JIS path as a URL a client follows (a WebDAV href, a redirect's Location): its
// UTF-8 (RFC 3987 3.1; every character converted, a byte without one as U+FFFD, never cut
// short) escaped by EscapeUrlAll, so plain ASCII, which NormalizeUrlPath reads back as the
// path.
std::string EscapeUrlUtf8(const std::string& path);

// A URL that is one already (a stored Forward address, a CGI program's Location) made fit
// for a header: bytes from 0x80 up, controls and blanks as "%hh"; '%' and every reserved
// character stay, since they already mean what they say there.
std::string EscapeNonUrlBytes(const std::string& url);

// `c` followed by `text`.
std::string PrependChar(char c, const std::string& text);
