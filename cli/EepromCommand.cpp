#include "EepromCommand.h"
#include "UsageError.h"

#include "EepromProgrammer.h"
#include "ExitStatus.h"
#include "MemoryImage.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

// A progress line on standard error, redrawn at most ten times a second,
// only when it is a terminal: a log file or a pipe gets none.
class ProgressLine {
public:
    explicit ProgressLine(QString what) : m_what(std::move(what)) {
        m_shown = isatty(fileno(stderr)) != 0;
        m_since.start();
    }
    ~ProgressLine() {
        if (m_drawn)
            std::fputs("\n", stderr);
    }
    bool operator()(qint64 done, qint64 total) {
        if (!m_shown || (m_drawn && done < total && m_since.elapsed() < 100))
            return true;
        m_since.restart();
        m_drawn = true;
        const int percent = total > 0 ? int(done * 100 / total) : 100;
        std::fprintf(stderr, "\r%s: %lld/%lld bytes (%d%%)", qPrintable(m_what),
                     static_cast<long long>(done), static_cast<long long>(total), percent);
        std::fflush(stderr);
        return true;
    }

private:
    QString m_what;
    bool m_shown = false;
    bool m_drawn = false;
    QElapsedTimer m_since;
};

int statusOf(EepromProgrammer::Status status) {
    switch (status) {
    case EepromProgrammer::Ok:
        return ExitOk;
    case EepromProgrammer::NoAck:
        return ExitNoAck;
    case EepromProgrammer::Differs:
        return ExitDiffers;
    case EepromProgrammer::TooLarge:
        return ExitDataError;
    case EepromProgrammer::DeviceError:
    case EepromProgrammer::Cancelled:
        break;
    }
    return ExitDeviceError;
}

QString byteRange(qint64 from, qint64 to) {
    return QStringLiteral("%1 (%2 bytes)").arg(EepromProgrammer::range(from, to)).arg(to - from);
}

void printDifferences(QTextStream &err, const EepromProgrammer::Result &result) {
    for (const auto &d : result.differences)
        err << QString::asprintf("  0x%04llX: file 0x%02X, part 0x%02X\n",
                                 static_cast<long long>(d.address), d.file, d.part);
}

} // namespace

EepromCommand::EepromCommand(QCommandLineParser &parser)
    : m_parser(parser),
      m_eeprom(QStringLiteral("eeprom"),
               QStringLiteral("Program a 24-series EEPROM: PART is 24C01 ... 24C512, 24C1024, "
                              "24M01, 24M02 or custom:SIZE:ADDRBYTES:PAGE; ADDR is its 7-bit "
                              "device address (0x50 when left out). With --read, --write or "
                              "--verify."),
               QStringLiteral("PART[@ADDR]")),
      m_read(QStringLiteral("read"),
             QStringLiteral("Read the EEPROM into FILE (Intel HEX when it ends in .hex)."),
             QStringLiteral("FILE")),
      m_write(QStringLiteral("write"),
              QStringLiteral("Write FILE into the EEPROM page by page, then read it back."),
              QStringLiteral("FILE")),
      m_verify(QStringLiteral("verify"),
               QStringLiteral("Compare the EEPROM with FILE and list the differences."),
               QStringLiteral("FILE")),
      m_offset(QStringLiteral("offset"),
               QStringLiteral("EEPROM address to begin at (0); added to a HEX file's addresses."),
               QStringLiteral("N"), QStringLiteral("0")),
      m_length(QStringLiteral("length"),
               QStringLiteral("Bytes to read (up to the end of the EEPROM)."), QStringLiteral("N")),
      m_noVerify(QStringLiteral("no-verify"),
                 QStringLiteral("With --write: do not read the written bytes back.")) {
    parser.addOptions({m_eeprom, m_read, m_write, m_verify, m_offset, m_length, m_noVerify});
}

bool EepromCommand::requested() const {
    return m_parser.isSet(m_eeprom);
}

int EepromCommand::check(const QStringList &positional) {
    if (!requested()) {
        for (const QCommandLineOption *o :
             {&m_read, &m_write, &m_verify, &m_length, &m_noVerify, &m_offset}) {
            if (m_parser.isSet(*o))
                return usageError(QStringLiteral("--%1 needs --eeprom").arg(o->names().first()));
        }
        return 0;
    }
    if (!positional.isEmpty())
        return usageError(QStringLiteral("--eeprom takes no script"));
    const int actions =
        int(m_parser.isSet(m_read)) + int(m_parser.isSet(m_write)) + int(m_parser.isSet(m_verify));
    if (actions != 1)
        return usageError(QStringLiteral("--eeprom needs one of --read, --write and --verify"));
    if (m_parser.isSet(m_length) && !m_parser.isSet(m_read))
        return usageError(QStringLiteral("--length goes with --read"));
    if (m_parser.isSet(m_noVerify) && !m_parser.isSet(m_write))
        return usageError(QStringLiteral("--no-verify goes with --write"));

    QString argument = m_parser.value(m_eeprom);
    const int at = argument.indexOf(u'@');
    QString error;
    if (!EepromPart::parse(at < 0 ? argument : argument.left(at), &m_part, &error))
        return usageError(error);
    if (at >= 0) {
        qint64 address = 0;
        if (!parseNumber(argument.mid(at + 1), 0x08, 0x77, &address))
            return usageError(QStringLiteral("%1 is not a 7-bit device address from 0x08 to 0x77")
                                  .arg(argument.mid(at + 1)));
        m_address = int(address);
    }
    if (!m_part.checkAddress(m_address, &error))
        return usageError(error);
    if (!parseNumber(m_parser.value(m_offset), 0, m_part.size, &m_offsetValue))
        return usageError(QStringLiteral("--offset must be a number from 0 to %1, not %2")
                              .arg(m_part.size)
                              .arg(m_parser.value(m_offset)));
    if (m_parser.isSet(m_length) &&
        !parseNumber(m_parser.value(m_length), 1, m_part.size, &m_lengthValue))
        return usageError(QStringLiteral("--length must be a number from 1 to %1, not %2")
                              .arg(m_part.size)
                              .arg(m_parser.value(m_length)));
    if (m_parser.isSet(m_read)) {
        if (m_lengthValue < 0)
            m_lengthValue = m_part.size - m_offsetValue;
        if (m_lengthValue <= 0 || m_offsetValue + m_lengthValue > m_part.size)
            return usageError(
                QStringLiteral("%1 bytes from offset %2 go past the end of the %3 (%4 "
                               "bytes)")
                    .arg(m_lengthValue)
                    .arg(m_offsetValue)
                    .arg(m_part.name)
                    .arg(m_part.size));
    }
    return 0;
}

int EepromCommand::run(const ToolContext &context) {
    QTextStream err(stderr);
    QElapsedTimer clock;
    clock.start();
    EepromProgrammer programmer(m_part, m_address, context.clock, context.transact,
                                [&clock] { return clock.nsecsElapsed(); });
    const QString where =
        QStringLiteral("%1 at %2").arg(m_part.name, m_part.addressRange(m_address));
    auto failed = [&](const EepromProgrammer::Result &result) {
        if (result.status == EepromProgrammer::DeviceError)
            return reportDeviceError(context, result.message, err);
        err << result.message << '\n';
        return context.logFailed() ? int(ExitLogWrite) : statusOf(result.status);
    };

    if (m_parser.isSet(m_read)) {
        const QString fileName = m_parser.value(m_read);
        EepromProgrammer::Result result;
        {
            ProgressLine progress(QStringLiteral("Reading the %1").arg(where));
            programmer.setProgress(std::ref(progress));
            result = programmer.read(m_offsetValue, m_lengthValue);
        }
        if (result.status != EepromProgrammer::Ok)
            return failed(result);
        QSaveFile file(fileName);
        const QByteArray bytes = MemoryImage::isHexName(fileName)
                                     ? MemoryImage::toHex(m_offsetValue, result.data)
                                     : result.data;
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
            !file.commit()) {
            err << QStringLiteral("brantle-cli: cannot write %1: %2\n")
                       .arg(fileName, file.errorString());
            return ExitLogWrite;
        }
        err << QStringLiteral("Read %1 from the %2 into %3.\n")
                   .arg(byteRange(m_offsetValue, m_offsetValue + m_lengthValue), where, fileName);
        return ExitOk;
    }

    const bool writing = m_parser.isSet(m_write);
    const QString fileName = m_parser.value(writing ? m_write : m_verify);
    MemoryImage image;
    QString error;
    if (!MemoryImage::load(fileName, &image, &error)) {
        err << QStringLiteral("brantle-cli: %1: %2\n").arg(fileName, error);
        return ExitDataError;
    }
    if (image.byteCount() == 0) {
        err << QStringLiteral("brantle-cli: %1 holds no data\n").arg(fileName);
        return ExitDataError;
    }
    if (!programmer.checkFits(m_offsetValue, image, &error)) {
        err << QStringLiteral("brantle-cli: %1: %2; nothing was written\n").arg(fileName, error);
        return ExitDataError;
    }

    if (!writing) {
        qint64 differences = 0;
        int shown = 0;
        for (const MemoryImage::Run &run : image.runs()) {
            EepromProgrammer::Result result;
            {
                ProgressLine progress(QStringLiteral("Verifying the %1").arg(where));
                programmer.setProgress(std::ref(progress));
                result = programmer.verify(m_offsetValue + run.address, run.bytes);
            }
            if (result.status != EepromProgrammer::Ok && result.status != EepromProgrammer::Differs)
                return failed(result);
            for (const auto &d : result.differences) {
                if (shown++ < EepromProgrammer::ShownDifferences)
                    err << QString::asprintf("0x%04llX: file 0x%02X, part 0x%02X\n",
                                             static_cast<long long>(d.address), d.file, d.part);
            }
            differences += result.differenceCount;
        }
        if (differences > 0) {
            err << QStringLiteral("%1 bytes differ between %2 and the %3.\n")
                       .arg(differences)
                       .arg(fileName, where);
            return ExitDiffers;
        }
        err << QStringLiteral("%1 bytes of %2 match the %3.\n")
                   .arg(image.byteCount())
                   .arg(fileName, where);
        return ExitOk;
    }

    const bool verify = !m_parser.isSet(m_noVerify);
    QStringList done;
    for (const MemoryImage::Run &run : image.runs()) {
        EepromProgrammer::Result result;
        {
            ProgressLine progress(QStringLiteral("Writing the %1").arg(where));
            programmer.setProgress(std::ref(progress));
            result = programmer.write(m_offsetValue + run.address, run.bytes, verify);
        }
        if (result.status == EepromProgrammer::Ok) {
            done << byteRange(result.writtenFrom, result.writtenTo);
            continue;
        }
        const int status = failed(result);
        printDifferences(err, result);
        QString unread;
        if (result.writtenTo > result.writtenFrom) {
            if (!verify)
                done << byteRange(result.writtenFrom, result.writtenTo) +
                            QStringLiteral(" (not read back)");
            else if (!result.verified)
                unread = byteRange(result.writtenFrom, result.writtenTo);
            else if (result.verifiedTo > result.writtenFrom)
                done << byteRange(result.writtenFrom, result.verifiedTo);
        }
        if (!done.isEmpty())
            err << QStringLiteral("Written%1: %2.\n")
                       .arg(verify ? QStringLiteral(" and verified") : QString(),
                            done.join(QStringLiteral(", ")));
        else if (unread.isEmpty())
            err << QStringLiteral("Nothing was written and verified.\n");
        if (!unread.isEmpty())
            err << QStringLiteral("Written, but the read-back failed: %1.\n").arg(unread);
        if (result.status == EepromProgrammer::Differs && result.verifiedTo < result.writtenTo)
            err << QStringLiteral("From 0x%1 on, the part does not hold what was written.\n")
                       .arg(result.verifiedTo, 4, 16, QLatin1Char('0'));
        return status;
    }
    err << QStringLiteral("Wrote%1 %2 of the %3.\n")
               .arg(verify ? QStringLiteral(" and verified") : QString(),
                    done.join(QStringLiteral(", ")), where);
    return ExitOk;
}
