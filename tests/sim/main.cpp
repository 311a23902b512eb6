#include <QCoreApplication>

int runI2cBusTests(int argc, char **argv);
int runReferenceCoreTests(int argc, char **argv);
int runFx2ChipTests(int argc, char **argv);
int runFx2PeripheralsTests(int argc, char **argv);
int runSimUsbStackTests(int argc, char **argv);
int runEmulatedChipTests(int argc, char **argv);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    int failures = 0;
    failures += runI2cBusTests(argc, argv) != 0;
    failures += runReferenceCoreTests(argc, argv) != 0;
    failures += runFx2PeripheralsTests(argc, argv) != 0;
    failures += runFx2ChipTests(argc, argv) != 0;
    failures += runSimUsbStackTests(argc, argv) != 0;
    failures += runEmulatedChipTests(argc, argv) != 0;
    return failures;
}
