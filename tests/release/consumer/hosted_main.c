/* The consumer with a C library: the report on standard output. */
#include <stdio.h>

#include "report.h"

static void writeStdout(const char* text, unsigned int length) {
    fwrite(text, 1, length, stdout);
}

int main(void) {
    const int result = writeReport(writeStdout);
    fflush(stdout);
    return result;
}
