// SEL dump: walk the SEL from its first entry along the next-record IDs the
// BMC gives, one report line per entry.
#include <cstring>

#include "sel_report.h"
#include "worker.h"

namespace {

bool testBit(const uint8_t* bits, uint16_t index) {
    return (bits[index >> 3] & (1u << (index & 7))) != 0;
}

void setBit(uint8_t* bits, uint16_t index) {
    bits[index >> 3] = static_cast<uint8_t>(bits[index >> 3] | (1u << (index & 7)));
}

// Closes the report file; false when it could not be written whole.
bool closeReport(Worker& w) {
    const bool writeFailed = std::ferror(w.reportFile) != 0;
    const bool closeFailed = std::fclose(w.reportFile) != 0;
    w.reportFile = nullptr;
    return !writeFailed && !closeFailed;
}

// The report file failed: the status says so, the session goes on and the
// window gets its SEL buttons back.
bool reportFileError(Worker& w, const char* text) {
    showStatus(w, text);
    notifyWindow(w, NOTIFY_REPORT_FILE_ERROR);
    return true;
}

}  // namespace

bool runSelDump(Worker& w) {
    w.control->dumpRequested.store(0);
    showStatus(w, "Opening file ...");
    // Binary mode: the lines carry their own CR LF on every platform.
    w.reportFile = std::fopen(g_reportPath, "wb");
    if (w.reportFile == nullptr) {
        return reportFileError(w, "Error, Unable to open file");
    }
    // Unbuffered: each line reaches the file in one write as it is read, so
    // the file holds every line read so far, and a failed write can be cut
    // back to the last whole line.
    std::setvbuf(w.reportFile, nullptr, _IONBF, 0);
    showStatus(w, "Requesting SEL data");

    std::memset(w.askedIds, 0, sizeof w.askedIds);
    std::memset(w.writtenIds, 0, sizeof w.writtenIds);
    uint16_t recordId = SEL_FIRST_RECORD_ID;
    bool firstRequest = true;
    // Every ID is asked for at most once, so the walk ends after at most
    // 65536 requests even when the BMC's next IDs run in a circle.
    while (!testBit(w.askedIds, recordId)) {
        setBit(w.askedIds, recordId);
        const int length = buildGetSelEntry(w.txBuf, nextHeader(w), recordId);
        if (!sendRequest(w, length)) {
            return failSession(w, NOTIFY_DISCONNECTED);
        }
        if (!awaitReply(w, CHECK_SUM)) {
            return failSession(w, NOTIFY_DISCONNECTED);
        }
        if (!checkReply(w.rxBuf, REPLY_LENGTH_OFFSET, CHECK_CODE)) {
            if (firstRequest) {
                // No first entry: the log is empty, the file stays empty.
                if (!closeReport(w)) {
                    return reportFileError(w, "Error, Unable to write file");
                }
                notifyWindow(w, NOTIFY_SEL_EMPTY);
                return true;
            }
            // No entry under this ID: try the one above; the reply's other
            // bytes are not an entry and steer nothing.
            recordId = static_cast<uint16_t>(recordId + 1);
            continue;
        }
        firstRequest = false;

        const uint16_t entryId = readLe16(w.rxBuf + SEL_RECORD_OFFSET);
        if (testBit(w.writtenIds, entryId)) {
            break;  // this entry is in the report already: the IDs run in a circle
        }
        setBit(w.writtenIds, entryId);
        const long wholeLines = std::ftell(w.reportFile);
        writeSelLine(w.rxBuf, w.reportFile);
        if (std::ferror(w.reportFile) != 0) {
            // A full disk may have taken part of the line: keep whole lines only.
            truncateFile(w.reportFile, wholeLines);
            closeReport(w);
            return reportFileError(w, "Error, Unable to write file");
        }
        if (isLastSelEntry(w.rxBuf)) {
            break;
        }
        recordId = nextSelRecordId(w.rxBuf);
    }
    if (!closeReport(w)) {
        return reportFileError(w, "Error, Unable to write file");
    }
    notifyWindow(w, NOTIFY_SEL_SAVED);
    return true;
}
