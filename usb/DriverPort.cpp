#include "DriverPort.h"

QUuid DriverPort::adapterInterfaceClass() {
    return QUuid(QStringLiteral("{AE18AA60-7F6A-11d4-97DD-00010229B959}"));
}
