/* What the consumer programs print: values read through the flat functions of crvmon.h from the
 * simulated machine of scenario.toml. The same lines from every build (Linux, MinGW, the
 * Microsoft ABI), so that one expected text checks all of them. */
#ifndef CRVMON_CONSUMER_REPORT_H
#define CRVMON_CONSUMER_REPORT_H

/* Writes `length` bytes of `text` where the program's output goes. */
typedef void (*ReportWriter)(const char* text, unsigned int length);

/* Initialises the library, writes the report, shuts the library down. Returns 0, or 1 when
 * crvmonInit failed (after one line saying so). Needs no C library: the Microsoft-ABI program
 * is built without one. */
int writeReport(ReportWriter write);

#endif
