#include "report.h"

#include "crvmon.h"

static ReportWriter out;

static void text(const char* value) {
    unsigned int length = 0;
    while (value[length] != '\0') ++length;
    out(value, length);
}

static void integer(long long value) {
    char digits[24];
    unsigned int at = sizeof digits;
    unsigned long long magnitude =
        value < 0 ? 0ull - (unsigned long long)value : (unsigned long long)value;
    do {
        digits[--at] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[--at] = '-';
    out(digits + at, sizeof digits - at);
}

/* Two decimals, rounded: enough to tell a reading, and the same text from every C library. */
static void hundredths(double value) {
    long long scaled = (long long)(value * 100.0 + (value < 0 ? -0.5 : 0.5));
    if (scaled < 0) {
        text("-");
        scaled = -scaled;
    }
    integer(scaled / 100);
    text(scaled % 100 < 10 ? ".0" : ".");
    integer(scaled % 100);
}

/* "TYPE:INDEX WHAT status CODE value ", the start of a line about one value of a device. */
static void line(crvmonTargetDeviceType_t type, int index, const char* what,
                 crvmonStatusCode_t code) {
    integer(type);
    text(":");
    integer(index);
    text(" ");
    text(what);
    text(" status ");
    integer(code);
    text(" value ");
}

static void intLine(crvmonTargetDeviceType_t type, int index, const char* what,
                    crvmonStatusCode_t code, long long value) {
    line(type, index, what, code);
    integer(value);
    text("\n");
}

static void textLine(crvmonTargetDeviceType_t type, int index, const char* what,
                     crvmonStatusCode_t code, const char* value) {
    line(type, index, what, code);
    text(value);
    text("\n");
}

static void wattsLine(crvmonTargetDeviceType_t type, int index, crvmonStatusCode_t code,
                      double value) {
    line(type, index, "power", code);
    hundredths(value);
    text("\n");
}

static void orvekCard(crvmonTargetDeviceType_t type) {
    char buffer[64];
    int value = 0;
    long long bytes = 0;
    double watts = 0;
    crvmonCoreInfo_t cores[16];
    unsigned int count = 0;
    crvmonDriverType_t driver = CRVMON_DRIVER_NONE;
    crvmonStatusCode_t code;

    buffer[0] = '\0'; /* a failed call leaves the buffer as it was */
    code = crvmonGetNodeName(type, 0, buffer, sizeof buffer);
    textLine(type, 0, "node", code, buffer);
    code = crvmonGetDriverType(type, 0, &driver);
    intLine(type, 0, "driver type", code, driver);
    code = crvmonGetTemperature(type, 0, &value);
    intLine(type, 0, "temperature", code, value);
    code = crvmonGetMemoryTotal(type, 0, &bytes);
    intLine(type, 0, "memory", code, bytes);
    code = crvmonGetTotalPower(type, 0, &watts);
    wattsLine(type, 0, code, watts);

    /* Count, then fill. */
    code = crvmonGetCoreInfos(type, 0, 0, &count);
    intLine(type, 0, "cores", code, count);
    if (count > 0 && count <= sizeof cores / sizeof cores[0] &&
        crvmonGetCoreInfos(type, 0, cores, &count) == CRVMON_STATUS_OK) {
        intLine(type, 0, "first core cluster", CRVMON_STATUS_OK, cores[0].cluster);
        intLine(type, 0, "first core core", CRVMON_STATUS_OK, cores[0].core);
        intLine(type, 0, "first core window", CRVMON_STATUS_OK, cores[0].totalTime);
    }

    /* Bad input: an index past the cards, and a buffer too short for the node name. */
    value = 7;
    code = crvmonGetTemperature(type, 5, &value);
    intLine(type, 5, "temperature", code, value);
    buffer[0] = 'x';
    buffer[1] = '\0';
    code = crvmonGetNodeName(type, 0, buffer, 4);
    textLine(type, 0, "node in 4 bytes", code, buffer);
}

static void veltaraDevice(crvmonTargetDeviceType_t type) {
    char buffer[64];
    int value = 0;
    double watts = 0;
    crvmonProcessInfo_t processes[8];
    unsigned int count = 0, k;
    crvmonDriverType_t driver = CRVMON_DRIVER_NONE;
    crvmonStatusCode_t code;

    buffer[0] = '\0'; /* a failed call leaves the buffer as it was */
    code = crvmonGetNodeName(type, 0, buffer, sizeof buffer);
    textLine(type, 0, "node", code, buffer);
    code = crvmonGetDriverType(type, 0, &driver);
    intLine(type, 0, "driver type", code, driver);
    code = crvmonGetTemperature(type, 0, &value);
    intLine(type, 0, "temperature", code, value);
    /* Not a value this family has: the slot still receives the error value. */
    code = crvmonGetTotalPower(type, 0, &watts);
    wattsLine(type, 0, code, watts);

    code = crvmonGetProcessInfos(type, 0, 0, &count);
    intLine(type, 0, "processes", code, count);
    if (count == 0 || count > sizeof processes / sizeof processes[0]) return;
    code = crvmonGetProcessInfos(type, 0, processes, &count);
    for (k = 0; code == CRVMON_STATUS_OK && k < count; ++k) {
        intLine(type, 0, "process pid", code, processes[k].pid);
        intLine(type, 0, "process quantity", code, processes[k].quantity);
        intLine(type, 0, "process amount", code, (long long)processes[k].amount);
    }
}

int writeReport(ReportWriter write) {
    char version[32];
    int count = 0;
    crvmonStatusCode_t code;

    out = write;
    version[0] = '\0';
    code = crvmonInit();
    if (code != CRVMON_STATUS_OK) {
        text("crvmonInit: ");
        text(crvmonStatusString(code));
        text("\n");
        return 1;
    }
    code = crvmonGetDeviceCount(&count);
    intLine(0, 0, "devices", code, count);
    code = crvmonGetTargetDeviceCount(CRVMON_TARGET_ORVEK_PCIE, &count);
    intLine(CRVMON_TARGET_ORVEK_PCIE, 0, "count", code, count);
    code = crvmonGetDriverVersion(CRVMON_DRIVER_ORVEK, version, sizeof version);
    textLine(0, 0, "orvek driver", code, version);
    orvekCard(CRVMON_TARGET_ORVEK_PCIE);
    veltaraDevice(CRVMON_TARGET_VELTARA_USB_KIND1);
    textLine(0, 0, "status text 5", CRVMON_STATUS_OK,
             crvmonStatusString(CRVMON_STATUS_BUFFER_TOO_SMALL));
    intLine(0, 0, "shutdown", crvmonShutdown(), 0);
    return 0;
}
