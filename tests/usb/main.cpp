#include "TestRunner.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int failures = 0;
    failures += runEndpointTests(argc, argv);
    failures += runDescriptorTests(argc, argv);
    failures += runGenericUsbDriverTests(argc, argv);
    failures += runDriverDeviceTests(argc, argv);
    failures += runCompositeDriverPortTests(argc, argv);
    return failures;
}
