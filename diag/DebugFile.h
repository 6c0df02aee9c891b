// The debug file on disk, for one line at a time: opened through one handle, checked
// through that same handle, appended to and trimmed through it, closed again.
//
// The log's folder lies below the common application data folder, where ordinary users
// can usually create entries, and the program runs as an administrator or as SYSTEM. So the
// file is written only when the handle shows a plain file with a single name whose final
// path is the intended one: never through a link of any kind, a second hard link, or a
// folder redirected elsewhere (a check of the path before opening it could be raced; the
// handle cannot). A file the log had to create at a place that turns out wrong is deleted
// again through its handle. The bytes are those of the runtime's UTF-8 text mode: a
// byte-order mark at the start of a new file, CR LF for each line end.
#pragma once
#include "platform/Owners.h"

enum class EDebugFileOpen
{
    Opened,
    Unopenable, // missing folder, no access, or a name that is neither file nor link
    Refused,    // a link, several names, or another place than the path names
    Busy,       // held open past the wait by a program that shares no writing
};

// Opens path for reading and writing: the existing file, or a new, empty one. Never follows
// a link to create its target. A file another program holds without sharing it for writing
// is tried again for waitMs (0: once).
EDebugFileOpen OpenDebugFile(const wchar_t* path, CUniqueFile& file, unsigned waitMs);

// Size of the open file; false when it cannot be read.
bool DebugFileSize(HANDLE file, long long& size);

// True when the next line starts a line of its own: the file is empty, holds only its
// byte-order mark, or ends in a line end.
bool DebugFileEndsWithLineEnd(HANDLE file, long long size);

// Appends bytes at the end of the file in one write; false when not all were written.
bool AppendToDebugFile(HANDLE file, const char* bytes, size_t count);

enum class ETrim
{
    Done,
    Skipped, // the tail could not be read: the file is as it was
    Failed,  // the rewrite failed: the file is as it was, or cut short
};

// Keeps only the complete lines of the file's last keep bytes, after a new byte-order mark,
// rewriting the file in place through its handle. May throw std::bad_alloc for the tail
// buffer, before anything is changed.
ETrim TrimDebugFile(HANDLE file, long long size, long long keep);

// The line (built with single LF line ends) as text-mode UTF-8 bytes; at most
// capacity bytes, cut before a character that would not fit. Returns the byte count.
size_t EncodeDebugLine(const wchar_t* line, char* out, size_t capacity);
