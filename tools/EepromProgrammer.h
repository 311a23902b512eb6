#ifndef BRANTLE_EEPROMPROGRAMMER_H
#define BRANTLE_EEPROMPROGRAMMER_H

#include "BusStream.h"
#include "EepromPart.h"
#include "MemoryImage.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QVector>

#include <functional>

// Reads, writes and verifies a 24-series EEPROM through transactions.
// Reads go in as few transactions as the adapter's buffer allows; writes go
// page by page, never across a page boundary, and each page's write cycle is
// waited out by acknowledge polling: the address of the next page, sent
// after about as long as the cycle takes, is that page's poll (a part busy
// writing refuses it, and the page goes again once polling finds the end);
// the last page is polled on its own. A write is then read back. Nothing is
// reported as written that was not read back equal.
class EepromProgrammer {
    Q_DECLARE_TR_FUNCTIONS(EepromProgrammer)

public:
    // Monotonic time in nanoseconds: the wall clock for real adapters, the
    // simulated clock in tests.
    using Clock = std::function<qint64()>;
    // Told of progress; false cancels at the next page or transaction.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    static constexpr qint64 PollLimitNs = 50'000'000;
    static constexpr int ShownDifferences = 10;
    // The adapter's wait command counts in these.
    static constexpr qint64 WaitUnitNs = 20'000;
    // How fast the lead before a page creeps down while the part takes each
    // page at the first try, and how far it goes up when one was too early.
    static constexpr qint64 CreepNs = 2'000;
    static constexpr qint64 MissStepNs = 60'000;

    enum Status {
        Ok,
        NoAck,       // the part did not answer
        DeviceError, // the adapter failed
        Differs,     // verification found differences
        Cancelled,
        TooLarge // the data does not fit in the part
    };
    struct Difference {
        qint64 address;
        quint8 file;
        quint8 part;
    };
    struct Result {
        Status status = Ok;
        QString message; // what went wrong, in a sentence; empty on success
        QByteArray data; // read: the bytes read
        // write: [writtenFrom, writtenTo) reached the part; [writtenFrom,
        // verifiedTo) of it read back equal.
        qint64 writtenFrom = 0;
        qint64 writtenTo = 0;
        qint64 verifiedTo = 0;
        bool verified = false;
        QVector<Difference> differences; // the first ShownDifferences
        qint64 differenceCount = 0;
    };

    EepromProgrammer(const EepromPart &part, int address, int clock, BusStream::Transact transact,
                     Clock now);
    void setProgress(Progress progress) { m_progress = std::move(progress); }

    // Refuses data that does not fit from `offset`, naming both sizes.
    bool checkFits(qint64 offset, qint64 length, QString *error) const;
    // The same for every run of a file's image placed at `offset`: checked
    // before the first byte of any run goes to the part.
    bool checkFits(qint64 offset, const MemoryImage &image, QString *error) const;

    Result read(qint64 offset, qint64 length);
    Result write(qint64 offset, const QByteArray &data, bool verify = true);
    Result verify(qint64 offset, const QByteArray &data);

    // "0x0100-0x01FF"
    static QString range(qint64 from, qint64 to);

private:
    bool readInto(qint64 offset, qint64 length, QByteArray *data, Result *result, qint64 doneBefore,
                  qint64 total, bool cancellable = true);
    // Polls until the part acknowledges, `writtenAt` being when the page's
    // transaction came back.
    bool poll(qint64 pageFrom, qint64 pageTo, qint64 writtenAt, Result *result);
    bool transact(BusStream &stream, Result *result, bool *acknowledged);
    // One page written in one transaction, `waitUnits` of adapter wait
    // before it.
    bool writePage(qint64 pos, qint64 pageEnd, qint64 offset, const QByteArray &data, int waitUnits,
                   Result *result, bool *acknowledged);
    void compare(qint64 offset, const QByteArray &expected, const QByteArray &actual,
                 Result *result) const;
    bool tell(qint64 done, qint64 total);
    void addressBytes(BusStream &stream, qint64 offset) const;
    QString where() const;

    EepromPart m_part;
    int m_address;
    int m_clock;
    BusStream::Transact m_transact;
    Clock m_now;
    Progress m_progress;
    // How long the latest poll took.
    qint64 m_pollNs = 0;
    // How long the adapter waits before a page that follows another, once
    // the first page's polling has measured the cycle.
    qint64 m_leadNs = 0;
    bool m_leadKnown = false;
};

#endif
