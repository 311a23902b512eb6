#ifndef BRANTLE_COMPLETIONRECORD_H
#define BRANTLE_COMPLETIONRECORD_H

#include <cstdint>

class DriverPort;

// Ties one asynchronous driver request to the transfer that started it: the
// port fills it when the request starts, and the request is waited on, queried
// and finally forgotten through it. Destroying the record ends a request that
// is still running before its buffers can go away.
class CompletionRecord {
public:
    CompletionRecord() = default;
    ~CompletionRecord();
    CompletionRecord(const CompletionRecord &) = delete;
    CompletionRecord &operator=(const CompletionRecord &) = delete;

    // Called by the port that started a request.
    void attach(DriverPort *port, uint64_t request);
    DriverPort *port() const { return m_port; }
    uint64_t request() const { return m_request; }

    // The port's error code at the start (DriverPort::Error).
    uint32_t startError() const { return m_startError; }
    void setStartError(uint32_t error) { m_startError = error; }

    // Ends the request (cancelling it if it still runs) and forgets it.
    void release();
    // Forgets the request without telling the port (the port is going away).
    void detach();

private:
    DriverPort *m_port = nullptr;
    uint64_t m_request = 0;
    uint32_t m_startError = 0;
};

#endif
