// An index file's bytes to a QuarItem and back: all of LoadXml and SaveXml except the file
// itself. No Windows headers, so a host build (a fuzzer, say) can drive it.
#pragma once
#include "quarantine/QuarItem.h"
#include <string>

const size_t kIndexMaxChars = 259;      // name, path, qname and the number attributes
const size_t kIndexMaxVirusChars = 255; // dvirus

// LoadXml after its file read: empties the location list, sets m_nSelected to -1 and reads
// the bytes (any encoding DecodeIndexBytes takes) into item. Lengths count UTF-16 units.
// False on any problem, the item then partly updated (item-wide fields read so far
// replaced, the locations read so far listed): it must not be used.
bool ReadIndexBytes(const std::string& bytes, QuarItem& item);

// SaveXml before its file write: the whole file, UTF-8 with its byte order mark and CR LF
// line ends. A sec_str byte above 0x7F is written as the character U+0080..U+00FF of that
// value, which ReadIndexBytes turns back into the same byte. False when the document
// could not be built (memory ran out); bytes are then unspecified.
bool WriteIndexBytes(const QuarItem& item, std::string& bytes);
