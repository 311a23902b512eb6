#ifndef BRANTLE_TESTS_TESTRUNNER_H
#define BRANTLE_TESTS_TESTRUNNER_H

// Each test class of the USB layer runs from the one executable's main.
int runEndpointTests(int argc, char **argv);
int runDescriptorTests(int argc, char **argv);
int runGenericUsbDriverTests(int argc, char **argv);
int runDriverDeviceTests(int argc, char **argv);
int runCompositeDriverPortTests(int argc, char **argv);

#endif
