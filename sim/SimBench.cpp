#include "SimBench.h"

#include "Eeprom24.h"
#include "Fx2Chip.h"
#include "SimUsbStack.h"
#include "TemperatureSensor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>

namespace {

// The longest write cycle a bench part may have: long enough to try out
// acknowledge polling that gives up, short of a program that seems hung.
constexpr double LongestWriteCycleMs = 10'000.0;

} // namespace

bool SimBench::parse(const QString &text, const QString &name, const QString &baseDir,
                     SimBench *bench, QString *error) {
    SimBench result;
    // Which entry took each 7-bit address, for the message on a clash.
    QVector<int> takenBy(0x80, 0);
    const QStringList lines = text.split(u'\n');
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        const int hash = line.indexOf(u'#');
        if (hash >= 0)
            line.truncate(hash);
        const QStringList words =
            line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        auto fail = [&](const QString &why) {
            *error = QStringLiteral("%1:%2: %3").arg(name).arg(n + 1).arg(why);
            return false;
        };
        Entry entry;
        entry.line = n + 1;
        int next = 0;
        const QString kind = words[next++].toLower();
        if (kind == QLatin1String("eeprom")) {
            entry.kind = Entry::Eeprom;
            if (words.size() < 3)
                return fail(tr("an EEPROM needs a part and an address: eeprom 24c64 0x50"));
            QString why;
            if (!EepromPart::parse(words[next++], &entry.part, &why))
                return fail(why);
        } else if (kind == QLatin1String("sensor")) {
            entry.kind = Entry::Sensor;
            if (words.size() < 2)
                return fail(tr("a sensor needs an address: sensor 0x48"));
        } else {
            return fail(tr("unknown part kind %1 (eeprom or sensor)").arg(words[0]));
        }
        qint64 address = 0;
        if (!parseNumber(words[next], 0x08, 0x77, &address))
            return fail(tr("%1 is not a 7-bit device address from 0x08 to 0x77").arg(words[next]));
        ++next;
        entry.address = int(address);
        int count = 1;
        if (entry.kind == Entry::Eeprom) {
            QString why;
            if (!entry.part.checkAddress(entry.address, &why))
                return fail(why);
            count = entry.part.addressCount();
        }
        for (int a = entry.address; a < entry.address + count; ++a) {
            if (takenBy[a])
                return fail(tr("address 0x%1 is already taken by line %2")
                                .arg(a, 2, 16, QLatin1Char('0'))
                                .arg(takenBy[a]));
            takenBy[a] = entry.line;
        }
        for (; next < words.size(); ++next) {
            const int equals = words[next].indexOf(u'=');
            if (equals <= 0)
                return fail(tr("%1 is not a setting (key=value)").arg(words[next]));
            const QString key = words[next].left(equals).toLower();
            const QString value = words[next].mid(equals + 1);
            if (entry.kind == Entry::Sensor) {
                // Checked on a scratch sensor now, so that a mistake stops
                // the bench before anything starts.
                TemperatureSensor scratch(uint8_t(entry.address));
                QString why;
                if (!applySensorSetting(scratch, key, value, &why))
                    return fail(why);
                entry.settings.append({key, value});
            } else if (key == QLatin1String("contents")) {
                if (value.isEmpty())
                    return fail(tr("contents= needs a file name"));
                entry.contents = QFileInfo(QDir(baseDir), value).absoluteFilePath();
            } else if (key == QLatin1String("write-cycle")) {
                bool ok = false;
                const double ms = value.toDouble(&ok);
                if (!ok || !std::isfinite(ms) || ms < 0 || ms > LongestWriteCycleMs)
                    return fail(tr("write-cycle= takes milliseconds from 0 to %1, not %2")
                                    .arg(LongestWriteCycleMs)
                                    .arg(value));
                entry.writeCycleMs = ms;
            } else {
                return fail(
                    tr("unknown EEPROM setting %1 (contents=FILE, write-cycle=MS)").arg(key));
            }
        }
        result.m_entries.append(entry);
    }
    *bench = result;
    return true;
}

bool SimBench::load(const QString &path, SimBench *bench, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = tr("cannot read the bench file %1: %2").arg(path, file.errorString());
        return false;
    }
    // A bench file is a few lines; anything near this size is not one.
    constexpr qint64 largest = 1024 * 1024;
    if (file.size() > largest) {
        *error = tr("%1 is too large for a bench file").arg(path);
        return false;
    }
    return parse(QString::fromUtf8(file.readAll()), path, QFileInfo(path).absolutePath(), bench,
                 error);
}

SimBench SimBench::standard(const QString &contentsFile) {
    SimBench bench;
    Entry eeprom;
    eeprom.kind = Entry::Eeprom;
    EepromPart::parse(QStringLiteral("24C64"), &eeprom.part, nullptr);
    eeprom.address = 0x51;
    eeprom.contents = contentsFile;
    Entry sensor;
    sensor.kind = Entry::Sensor;
    sensor.address = 0x48;
    bench.m_entries = {eeprom, sensor};
    return bench;
}

QString SimBench::standardContentsFile() {
    // Shared by brantle-sim and brantle-cli --sim: one bench for both.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return QString();
    return data + QStringLiteral("/brantle/sim-bench-24c64-0x51.bin");
}

bool SimBench::applySensorSetting(TemperatureSensor &sensor, const QString &key,
                                  const QString &value, QString *error) {
    // The temperature it starts at and how it moves: a drift that turns back
    // now and then, with seeded noise on every reading.
    TemperatureSensor::Settings settings = sensor.settings();
    bool ok = false;
    if (key == QLatin1String("seed")) {
        const uint seed = value.toUInt(&ok, 0);
        if (!ok) {
            *error = tr("seed= takes a whole number, not %1").arg(value);
            return false;
        }
        settings.seed = seed;
    } else {
        const double number = value.toDouble(&ok);
        struct Limits {
            const char *key;
            double TemperatureSensor::Settings::*field;
            double low, high;
        };
        static const Limits limits[] = {
            {"temperature", &TemperatureSensor::Settings::start, -55.0, 125.0},
            {"drift", &TemperatureSensor::Settings::driftPerMinute, -100.0, 100.0},
            {"noise", &TemperatureSensor::Settings::noise, 0.0, 50.0},
            {"turn", &TemperatureSensor::Settings::turnMinutes, 0.1, 1440.0},
        };
        const Limits *found = nullptr;
        for (const Limits &l : limits)
            if (key == QLatin1String(l.key))
                found = &l;
        if (!found) {
            *error = tr("unknown sensor setting %1 (temperature=, drift=, noise=, turn=, seed=)")
                         .arg(key);
            return false;
        }
        if (!ok || !std::isfinite(number) || number < found->low || number > found->high) {
            *error = tr("%1= takes a number from %2 to %3, not %4")
                         .arg(key)
                         .arg(found->low)
                         .arg(found->high)
                         .arg(value);
            return false;
        }
        settings.*(found->field) = number;
    }
    sensor.setSettings(settings);
    return true;
}

namespace {

bool writeWhole(const QString &path, const QByteArray &bytes, QString *error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = SimBench::tr("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

} // namespace

bool SimBench::attach(Fx2Chip &chip, QString *error) {
    QVector<std::shared_ptr<Eeprom24>> eeproms;
    QVector<QString> files;
    QVector<std::shared_ptr<I2cSlave>> slaves;
    for (const Entry &e : m_entries) {
        if (e.kind == Entry::Sensor) {
            auto sensor = std::make_shared<TemperatureSensor>(uint8_t(e.address));
            for (const auto &setting : e.settings) {
                if (!applySensorSetting(*sensor, setting.first, setting.second, error))
                    return false;
            }
            slaves.append(sensor);
            continue;
        }
        auto part = std::make_shared<Eeprom24>(uint8_t(e.address), e.part.size, e.part.pageSize,
                                               e.part.addressBytes);
        part->setWriteCycleNs(int64_t(std::llround(e.writeCycleMs * 1e6)));
        if (!e.contents.isEmpty()) {
            QFile file(e.contents);
            if (!file.exists()) {
                if (!writeWhole(e.contents, part->memory(), error))
                    return false;
            } else if (!file.open(QIODevice::ReadOnly)) {
                *error = tr("cannot read %1: %2").arg(e.contents, file.errorString());
                return false;
            } else if (file.size() != e.part.size) {
                *error = tr("%1 holds %2 bytes; the %3 on line %4 holds %5")
                             .arg(e.contents)
                             .arg(file.size())
                             .arg(e.part.name)
                             .arg(e.line)
                             .arg(e.part.size);
                return false;
            } else {
                part->memory() = file.readAll();
            }
            auto store = std::make_shared<QFile>(e.contents);
            if (!store->open(QIODevice::ReadWrite)) {
                *error = tr("cannot write %1: %2").arg(e.contents, store->errorString());
                return false;
            }
            const QString path = e.contents;
            part->setStore([store, path](int offset, const QByteArray &bytes) {
                // Flushed at once: a program killed right after a write
                // cycle keeps what the part wrote.
                if (!store->seek(offset) || store->write(bytes) != bytes.size() || !store->flush())
                    qWarning("simulated EEPROM: cannot write %s", qPrintable(path));
            });
        }
        slaves.append(part);
        for (int block = 1; block < part->blockCount(); ++block)
            slaves.append(std::make_shared<Eeprom24Block>(part, block));
        eeproms.append(part);
        files.append(e.contents);
    }
    for (auto &slave : slaves)
        chip.bus().attach(slave);
    m_eeproms = eeproms;
    m_eepromFiles = files;
    return true;
}

std::shared_ptr<Fx2Chip> SimBench::plug(SimUsbStack &stack, const QByteArray &firmware,
                                        QString *error, QString *path) {
    auto chip = std::make_shared<Fx2Chip>();
    if (!attach(*chip, error))
        return nullptr;
    chip->setAdapterFirmware(firmware);
    const QString p = stack.plug(chip);
    if (path)
        *path = p;
    return chip;
}

bool SimBench::resetContents(QString *error) {
    // A plugged part writes through the file it holds open: a new file in
    // its place would not be the one it keeps writing to.
    if (!m_eeproms.isEmpty()) {
        for (const auto &part : m_eeproms)
            part->restoreFactory();
        return true;
    }
    for (const Entry &e : m_entries) {
        if (e.kind != Entry::Eeprom)
            continue;
        if (!e.contents.isEmpty() &&
            !writeWhole(e.contents, Eeprom24::factoryContents(e.part.size), error))
            return false;
    }
    return true;
}
