// The bytes of a log file as text: is it UTF-8 at all, and where are its lines. The debug log
// is UTF-8 with a byte-order mark and CR LF line ends; files that are not (UTF-16, binary data,
// broken UTF-8) are recognised before any line is read, so that they are reported, not parsed
// into nonsense.
#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

enum class ETextProblem
{
    None,
    Empty,       // no bytes at all
    Utf16,       // a UTF-16 byte-order mark, or zero bytes in every other place
    InvalidUtf8, // a byte sequence that is not UTF-8
};

struct CTextCheck
{
    ETextProblem m_problem = ETextProblem::None;
    size_t m_offset = 0;   // InvalidUtf8: byte offset of the first bad sequence
    bool m_bBinary = false; // InvalidUtf8 in a file that also holds zero bytes
    bool m_bBom = false;    // starts with the UTF-8 byte-order mark
};

// A run of zero bytes inside the text: what a file system leaves where data was never written
// (power lost while the log grew). The lines are split around it.
struct CNulRegion
{
    size_t m_offset = 0;
    size_t m_length = 0;
};

struct CTextLine
{
    std::string_view m_text; // without CR LF and without a byte-order mark
    size_t m_offset = 0;     // of its first byte in the file's bytes
    size_t m_number = 0;     // as an editor counts lines (LF ends one), from 1
};

// headCut: the bytes are the tail of a longer file, so they begin inside a line.
CTextCheck CheckLogText(std::string_view bytes, bool headCut);

// Splits the bytes into lines at LF (dropping a CR before it) and at runs of zero bytes, which
// are returned in nulRegions. With headCut the first, partial line is dropped. A last line
// without a line end is returned too: a run that was cut off may end that way.
std::vector<CTextLine> SplitLogLines(std::string_view bytes, bool headCut,
                                     std::vector<CNulRegion>& nulRegions);
