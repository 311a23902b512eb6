#ifndef BRANTLE_ADAPTERSESSION_H
#define BRANTLE_ADAPTERSESSION_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <memory>

class CCyDriverDevice;
class DriverPort;

// The host side of the exchange with the adapter firmware: the one device
// object, the firmware download and the transaction. The main window and the
// command-line tool each hold one. Failures are thrown as translated QString
// texts beginning with "Error: " (context "Brantle").
class AdapterSession {
    // The texts are the main window's: they are shown in its status bar.
    Q_DECLARE_TR_FUNCTIONS(Brantle)

public:
    static const char *const firmwareResource;
    // The whole image at `path`; empty when it cannot be read.
    static QByteArray readFirmware(const QString &path = QString::fromLatin1(firmwareResource));

    // Creates the device object on `port` and opens adapter 0 if there is one.
    explicit AdapterSession(DriverPort &port,
                            QString firmwarePath = QString::fromLatin1(firmwareResource));
    ~AdapterSession();
    AdapterSession(const AdapterSession &) = delete;
    AdapterSession &operator=(const AdapterSession &) = delete;

    CCyDriverDevice &device() { return *m_device; }

    // Downloads the image in the file at `path` instead of the program's
    // own: at the next transaction whatever the adapter runs then, and after
    // that whenever the adapter does not run our firmware. A file that
    // cannot be read or is not a whole RAM image fails the download with the
    // download's error before the adapter is touched.
    void setFirmwareImage(const QString &path);
    // Why the file at `path` cannot be downloaded as a firmware image (not
    // translated, for a command line); empty when it can.
    static QString firmwareImageProblem(const QString &path);
    // How the adapter list names an adapter: "NAME - [ADDRESS]".
    static QString listName(const QString &friendlyName, int address);

    // Runs the command stream on the adapter and merges the bytes read into
    // it. True when every byte was acknowledged, false on NoAck. `reply`, when
    // given, gets the bytes received (status byte included), also when the
    // transaction then fails; it is empty when nothing came.
    bool transact(QByteArray &stream, QByteArray *reply = nullptr);
    // Makes sure the adapter runs our firmware: 0 when it already did, 1
    // after a download. After an exchange that broke off, the firmware is
    // downloaded again without asking: see m_outOfStep.
    int ensureFirmware();

private:
    bool controlTransfer(int direction, int request, int value, unsigned char *data, int &length);

    std::unique_ptr<CCyDriverDevice> m_device;
    QString m_firmwarePath;
    bool m_imageFromFile = false;
    bool m_downloadDue = false;
    // An exchange broke off between the header and the whole reply. The
    // framing has no sequence numbers: the firmware may still wait for the
    // rest of that stream, or hold reply packets the host never took, and
    // would hand them to the next exchange as its answer. Restarting it (a
    // download) puts both sides back in step.
    bool m_outOfStep = false;
};

#endif
