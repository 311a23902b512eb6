#ifndef BRANTLE_SIM_SIMBENCH_H
#define BRANTLE_SIM_SIMBENCH_H

#include "EepromPart.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QVector>

#include <memory>

class Eeprom24;
class Fx2Chip;
class SimUsbStack;
class TemperatureSensor;

// The parts on a simulated adapter's bus, as a bench file describes them,
// one a line, '#' starting a comment:
//
//     eeprom 24c16 0x50 contents=bank.bin
//     eeprom 24c64 0x51 write-cycle=5
//     sensor 0x48
//
// An EEPROM with a contents file keeps its memory there, as a real one keeps
// it over power cycles: the file is made with the factory contents when
// missing and gets every page the part writes at the end of its write cycle.
class SimBench {
    Q_DECLARE_TR_FUNCTIONS(SimBench)

public:
    struct Entry {
        enum Kind { Eeprom, Sensor } kind = Eeprom;
        int line = 0;
        int address = 0;
        EepromPart part;                           // Eeprom
        QString contents;                          // Eeprom: absolute path, empty for none
        double writeCycleMs = 5.0;                 // Eeprom
        QVector<QPair<QString, QString>> settings; // Sensor: key=value, in order
    };

    // `baseDir` resolves relative contents paths. Fails with "NAME:LINE: why".
    static bool parse(const QString &text, const QString &name, const QString &baseDir,
                      SimBench *bench, QString *error);
    static bool load(const QString &path, SimBench *bench, QString *error);
    // A 24C64 at 0x51 whose contents live in `contentsFile` (none when
    // empty) and a temperature sensor at 0x48.
    static SimBench standard(const QString &contentsFile);
    // Where the standard bench keeps its EEPROM: the user's data folder.
    static QString standardContentsFile();

    // One sensor setting; false with the reason when the sensor has no such
    // setting or the value does not suit it.
    static bool applySensorSetting(TemperatureSensor &sensor, const QString &key,
                                   const QString &value, QString *error);

    const QVector<Entry> &entries() const { return m_entries; }

    // Puts the parts on a new adapter running `firmware` and plugs it into
    // `stack`. Fails (nothing plugged) when a contents file cannot be read,
    // made, or does not match its part's size.
    std::shared_ptr<Fx2Chip> plug(SimUsbStack &stack, const QByteArray &firmware, QString *error,
                                  QString *path = nullptr);
    // Gives every EEPROM its factory contents, in its file and, once
    // plugged, in the running part.
    bool resetContents(QString *error);

    // The plugged EEPROMs, in the order of the entries.
    const QVector<std::shared_ptr<Eeprom24>> &eeproms() const { return m_eeproms; }

private:
    bool attach(Fx2Chip &chip, QString *error);
    QVector<Entry> m_entries;
    QVector<std::shared_ptr<Eeprom24>> m_eeproms;
    QVector<QString> m_eepromFiles;
};

#endif
