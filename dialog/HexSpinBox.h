#ifndef BRANTLE_HEXSPINBOX_H
#define BRANTLE_HEXSPINBOX_H

#include <QSpinBox>

// A spin box that shows and takes its number in hexadecimal, as addresses
// and registers are written on the bus ("0x50").
inline QSpinBox *hexSpinBox(int minimum, int maximum, int value, QWidget *parent) {
    auto *box = new QSpinBox(parent);
    box->setDisplayIntegerBase(16);
    box->setPrefix(QStringLiteral("0x"));
    box->setRange(minimum, maximum);
    box->setValue(value);
    return box;
}

#endif
