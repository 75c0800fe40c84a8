/* A VeskTrayServer client in C: registers a monitor, looks at the shared region, and
 * unregisters the monitor again.
 *   VeskTrayClientExample [VALUE]      (VALUE defaults to 1) */
#include <stdio.h>
#include <stdlib.h>

#include "VeskTrayClient.h"

int main(int argc, char** argv) {
    const DWORD timeoutMs = 5000;
    const LONG monitor = argc > 1 ? (LONG)strtoul(argv[1], NULL, 0) : 1;
    LONG result = 0;
    SIZE_T regionSize = 0;
    int status;

    status = VeskTrayAddMonitor(monitor, timeoutMs, &result);
    if (status != VESK_TRAY_OK) {
        fprintf(stderr, "add monitor: %s\n", VeskTrayErrorText(status));
        return 1;
    }
    printf("AddMonitor(%ld) returned %ld\n", (long)monitor, (long)result);

    /* The layout of the region belongs to the hook library; here we only see its size. */
    status = VeskTrayGetRegionSize(&regionSize);
    if (status == VESK_TRAY_OK)
        printf("shared region: %lu bytes\n", (unsigned long)regionSize);
    else
        printf("shared region: %s\n", VeskTrayErrorText(status));

    status = VeskTrayRemoveMonitor(monitor, timeoutMs, &result);
    if (status != VESK_TRAY_OK) {
        fprintf(stderr, "remove monitor: %s\n", VeskTrayErrorText(status));
        return 1;
    }
    printf("RemoveMonitor(%ld) returned %ld\n", (long)monitor, (long)result);
    return 0;
}
