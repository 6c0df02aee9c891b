// The restore writer's record loop (see PayloadRecordLoop.h).
#include "restore/codecs/PayloadRecordLoop.h"
#include "restore/codecs/PayloadCipher.h"
#include "restore/codecs/RestoreDataPath.h"

#include <algorithm>

namespace {

const uint32_t kHeaderBytes = kPayloadHeaderBytes;
const uint32_t kBufferBytes = kPayloadBufferBytes;

// Reads the next header and name into buffer; done when the payload ends before a header.
ERecordLoop ReadHeaderAndName(CPayloadRecordIo& io, uint8_t* buffer, PayloadRecordHeader& header,
                              bool& done)
{
    uint32_t got = 0;
    if (!io.Read(buffer, kHeaderBytes, got))
        return ERecordLoop::Unreadable;
    if (got == 0) {
        done = true;
        return ERecordLoop::Done;
    }
    if (got < kHeaderBytes)
        return ERecordLoop::Unreadable;
    if (ReadPayloadRecordHeader(buffer, header) != PayloadCheck::Ok)
        return ERecordLoop::Unreadable;
    if (!io.Read(buffer + kHeaderBytes, header.nameSize, got) || got != header.nameSize)
        return ERecordLoop::Unreadable;
    return ERecordLoop::Done;
}

ERecordLoop RunRecord(CPayloadRecordIo& io, uint8_t* buffer, uint32_t runLimit,
                      PayloadCipher& cipher, bool& done)
{
    MD5_CTX crypted;
    MD5_CTX original;
    MD5Init(&crypted);
    MD5Init(&original);
    cipher.Reset();

    PayloadRecordHeader header;
    ERecordLoop read = ReadHeaderAndName(io, buffer, header, done);
    if (read != ERecordLoop::Done || done)
        return read;
    if (!io.Admit(header))
        return ERecordLoop::Refused;

    uint32_t fill = kHeaderBytes + header.nameSize;
    uint32_t decipherFrom = fill;
    uint64_t total = fill + static_cast<uint64_t>(header.dataSize);
    uint64_t consumed = fill;
    do {
        uint32_t want = static_cast<uint32_t>(
            std::min<uint64_t>({kBufferBytes - fill, total - consumed, runLimit}));
        uint32_t got = 0;
        if (!io.Read(buffer + fill, want, got))
            return ERecordLoop::Unreadable;
        if (got == 0 && fill == 0)
            break;
        consumed += got;
        fill += got;
        // Crypted digest of the run as read, decipher its data, original digest of the
        // result: both digests computed in one interleaved pass.
        DigestAndDecipherRun(buffer, fill, decipherFrom, &crypted, &original, cipher);
        if (!io.Write(buffer, fill))
            return ERecordLoop::WriteFailed;
        fill = 0;
        decipherFrom = 0;
    } while (consumed < total);

    io.Digested(original, crypted);
    return ERecordLoop::Done;
}

} // namespace

ERecordLoop RunPayloadRecords(CPayloadRecordIo& io, uint8_t* buffer, uint32_t runLimit)
{
    PayloadCipher cipher;
    for (bool done = false; !done;) {
        ERecordLoop record = RunRecord(io, buffer, runLimit, cipher, done);
        if (record != ERecordLoop::Done)
            return record;
    }
    return ERecordLoop::Done;
}
