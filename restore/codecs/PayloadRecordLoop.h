// PayloadRecordLoop: the ordinary restore writer's way through a payload, record by record,
// apart from where the bytes come from and where they go. The writer (NormalWriter.cpp)
// reads the payload file and hands the runs to BackupWrite; the payload fuzzer runs the
// very same loop over memory.
//
// Per record: the header and the name are read whole, then the data in runs of at most a
// buffer (header and name lead the first run). The cipher restarts per record and runs on
// across runs; header and name are never deciphered. Both digests of the record are
// gathered run by run in one pass (RestoreDataPath.h). A payload that ends inside a
// record's data ends that record there: the size and digest checks after the write reject
// such a file.
#pragma once

#include "restore/codecs/Md5.h"
#include "restore/codecs/PayloadRecords.h"

#include <cstdint>

// What the loop asks of the one who runs it.
class CPayloadRecordIo
{
public:
    virtual ~CPayloadRecordIo() = default;
    // Up to count bytes of the payload into into; got is 0 at its end. False when the
    // read failed.
    virtual bool Read(uint8_t* into, uint32_t count, uint32_t& got) = 0;
    // A record whose header and name were read; false refuses it before any of it is
    // handed on.
    virtual bool Admit(const PayloadRecordHeader& header) = 0;
    // One run as it is to be written; false ends the loop.
    virtual bool Write(const uint8_t* run, uint32_t size) = 0;
    // Both digests of a record that was handed on to its end (or to the payload's).
    virtual void Digested(MD5_CTX& original, MD5_CTX& crypted) = 0;
};

enum class ERecordLoop
{
    Done,        // the payload ended after a record, or inside one's data
    Unreadable,  // a read failed; a header or a name was cut short; a negative data size;
                 // a name that does not fit the buffer
    Refused,     // Admit said no
    WriteFailed, // Write said no
};

// Runs through the whole payload. buffer holds kPayloadBufferBytes. A run carries at most
// runLimit data bytes besides: the writer's runs are as long as its buffer allows, the
// fuzzer makes them shorter to reach every alignment of the cipher and the digests.
ERecordLoop RunPayloadRecords(CPayloadRecordIo& io, uint8_t* buffer,
                              uint32_t runLimit = kPayloadBufferBytes);
