#include "CompletionRecord.h"

#include "DriverPort.h"

CompletionRecord::~CompletionRecord() {
    release();
}

void CompletionRecord::attach(DriverPort *port, uint64_t request) {
    release();
    m_port = port;
    m_request = request;
}

void CompletionRecord::release() {
    if (m_port && m_request != 0)
        m_port->releaseRequest(*this);
    m_port = nullptr;
    m_request = 0;
}

void CompletionRecord::detach() {
    m_port = nullptr;
    m_request = 0;
}
