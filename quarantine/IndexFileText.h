// From an index file's bytes to the text handed to TinyXML. No Windows headers.
#pragma once
#include <string>

// Decodes an index file: UTF-8 with or without its byte order mark, or UTF-16 in either
// byte order when it starts with its mark. The result is UTF-8 without a mark, with LF
// line ends (CR LF and CR become LF, as TinyXML's own file loader does), invalid sequences
// replaced by U+FFFD and the text ending at its first NUL (where TinyXML would stop).
// False for an empty file and for UTF-16 with an odd byte count.
bool DecodeIndexBytes(const std::string& bytes, std::string& text);
