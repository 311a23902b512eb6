#include "AdapterSession.h"

#include "CCyAltSetting.h"
#include "CCyControlEndPoint.h"
#include "CCyDriverDevice.h"
#include "ScanStream.h"
#include "adapter_wire.h"

#include <QCoreApplication>
#include <QFile>

#include <vector>

namespace {

enum Direction { Out = 0, In = 1 };

} // namespace

const char *const AdapterSession::firmwareResource = ":/Brantle/IoAndFx2I2cBus.bix";

AdapterSession::AdapterSession(DriverPort &port, QString firmwarePath)
    : m_device(std::make_unique<CCyDriverDevice>(port, DriverPort::DeviceChangeHandler(),
                                                 DriverPort::adapterInterfaceClass(), true)),
      m_firmwarePath(std::move(firmwarePath)) {}

AdapterSession::~AdapterSession() = default;

QByteArray AdapterSession::readFirmware(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void AdapterSession::setFirmwareImage(const QString &path) {
    m_firmwarePath = path;
    m_imageFromFile = true;
    m_downloadDue = true;
}

QString AdapterSession::firmwareImageProblem(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const qint64 size = file.readAll().size();
    if (size != WIRE_FIRMWARE_IMAGE_SIZE)
        return QStringLiteral("%1 bytes; an image is the adapter's whole RAM, %2 bytes")
            .arg(size)
            .arg(WIRE_FIRMWARE_IMAGE_SIZE);
    return QString();
}

QString AdapterSession::listName(const QString &friendlyName, int address) {
    return friendlyName + QStringLiteral(" - [") + QString::number(address) + u']';
}

bool AdapterSession::transact(QByteArray &stream, QByteArray *reply) {
    if (reply)
        reply->clear();
    int readCount = 0;
    scanStream(stream, false, &readCount, nullptr);

    // The firmware keeps the whole transaction and its answer in one buffer,
    // and the header's counts are 16 bits: anything larger would be cut and
    // run as some other transaction.
    const qint64 needed = qint64(stream.size()) + WIRE_HEADER_SIZE + readCount + 1;
    if (needed > WIRE_COMMAND_BUFFER_SIZE)
        throw tr("Error: The data is too large for the USB device. (%1 byte, limit %2 byte)")
            .arg(needed)
            .arg(WIRE_COMMAND_BUFFER_SIZE);

    ensureFirmware();

    CCyAltSetting *setting = m_device->currentAltSetting();
    CCyUSBEndPoint *out = setting ? setting->endPoints(WIRE_OUT_ENDPOINT_POSITION) : nullptr;
    CCyUSBEndPoint *in = setting ? setting->endPoints(WIRE_IN_ENDPOINT_POSITION) : nullptr;
    if (!out || !in)
        throw tr("Error: The USB device has no endpoint for the transfer.");

    const int sent = int(stream.size()) + WIRE_HEADER_SIZE;
    const int expected = readCount + 1;
    unsigned char header[WIRE_HEADER_SIZE] = {static_cast<unsigned char>(sent & 0xFF),
                                              static_cast<unsigned char>((sent >> 8) & 0xFF),
                                              static_cast<unsigned char>(expected & 0xFF),
                                              static_cast<unsigned char>((expected >> 8) & 0xFF)};
    int length = WIRE_HEADER_SIZE;
    m_outOfStep = true;
    if (!out->transfer(header, length))
        throw tr("Error: Fain to send 4byte data of in-out number of byte to USB device.");

    length = int(stream.size());
    if (!out->transfer(reinterpret_cast<unsigned char *>(stream.data()), length))
        throw tr("Error: Fail to send Brantle data to USB device. ");

    std::vector<unsigned char> received(size_t(expected), 0);
    length = expected;
    const bool transferred = in->transfer(received.data(), length);
    if (reply && length > 0)
        *reply =
            QByteArray(reinterpret_cast<const char *>(received.data()), qMin(length, expected));
    if (!transferred)
        throw tr("Error: Fail to receive Brantle data from USB device.");
    if (length != expected)
        throw tr("Error: Fail to receive %1 byte data from USB device.(only %2 byte)")
            .arg(expected)
            .arg(length);
    m_outOfStep = false;

    const unsigned char status = received[size_t(readCount)];
    if (status & WIRE_STATUS_FIRMWARE_ERROR)
        throw tr("Error: Error has occured in firmware in USB device");
    scanStream(stream, true, &readCount, received.data());
    return !(status & WIRE_STATUS_NOACK);
}

bool AdapterSession::controlTransfer(int direction, int request, int value, unsigned char *data,
                                     int &length) {
    CCyControlEndPoint *control = m_device->controlEndPoint();
    if (!control)
        return false;
    control->recipient = 0;   // device
    control->requestType = 2; // vendor
    control->direction = uint32_t(direction);
    control->request = uint8_t(request);
    control->index = 0;
    control->value = uint16_t(value);
    return control->transfer(data, length);
}

int AdapterSession::ensureFirmware() {
    if (m_device->deviceCount() == 0)
        throw tr("Error: Device not found.");

    // A fresh chip reports alternate setting 0; only after a download have we
    // switched to 1. Anything else is asked. An image given on the command
    // line goes down once in any case: the adapter may still run another
    // build of our firmware, which would answer the inquiry just the same.
    if (!m_downloadDue && !m_outOfStep && m_device->altSetting() != 0) {
        unsigned char answer = 0;
        int length = 1;
        if (!controlTransfer(In, WIRE_REQUEST_INQUIRY, 0, &answer, length))
            throw tr("Error: Fail to inquiry type of firmware.");
        // An answer without its byte says nothing: download.
        if (length == 1 && answer == WIRE_INQUIRY_ANSWER)
            return 0;
    }

    QByteArray image = readFirmware(m_firmwarePath);
    // The program's own image is always whole; a file may be anything, and
    // loading a part of an image would start half a program.
    if (m_imageFromFile && image.size() != WIRE_FIRMWARE_IMAGE_SIZE)
        throw tr("Error: Fail to send firmware.");

    unsigned char cpucs = 1; // hold the core in reset while its RAM is written
    int length = 1;
    if (!controlTransfer(Out, WIRE_REQUEST_FIRMWARE_LOAD, WIRE_CPUCS_ADDRESS, &cpucs, length))
        throw tr("Error: Fail to CPUCS=1.");

    int pos = 0;
    while (pos < image.size()) {
        const int chunk = qMin(int(image.size()) - pos, WIRE_FIRMWARE_CHUNK_SIZE);
        length = chunk;
        if (!controlTransfer(Out, WIRE_REQUEST_FIRMWARE_LOAD, pos & 0xFFFF,
                             reinterpret_cast<unsigned char *>(image.data()) + pos, length))
            throw tr("Error: Fail to send firmware.");
        // A chunk that moved nothing would repeat for ever.
        if (length <= 0)
            throw tr("Error: Fail to send firmware.");
        pos += qMin(length, chunk);
    }

    cpucs = 0;
    length = 1;
    if (!controlTransfer(Out, WIRE_REQUEST_FIRMWARE_LOAD, WIRE_CPUCS_ADDRESS, &cpucs, length))
        throw tr("Error: Fail to CPUCS=0.");

    m_outOfStep = false;

    if (!m_device->SetAltIntfc(WIRE_TRANSFER_ALT_SETTING))
        throw tr("Error: Fail to SetAltIntfc().");
    m_downloadDue = false;
    return 1;
}
