#include "unopened_handle.h"

#include <QStringList>

QString UnopenedHandleFaults(device::CheckedD2xx& backend, FT_HANDLE handle) {
    QStringList faults;
    const auto expectFailure = [&](const char* call, FT_STATUS status) {
        if (status == FT_OK)
            faults << QStringLiteral("%1 succeeded").arg(QLatin1String(call));
    };
    expectFailure("SetBaudRate", backend.SetBaudRate(handle, 38400));
    expectFailure("SetDataCharacteristics",
                  backend.SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE));
    expectFailure("SetRts", backend.SetRts(handle));
    expectFailure("ClrRts", backend.ClrRts(handle));
    expectFailure("Purge", backend.Purge(handle, FT_PURGE_RX | FT_PURGE_TX));

    const char request[3] = {0x41, 0x4C, 0x0D};
    DWORD written = 99;
    expectFailure("Write", backend.Write(handle, request, 3, &written));
    if (written != 0)
        faults << QStringLiteral("Write reported %1 bytes written").arg(written);

    DWORD rx = 99, tx = 99, events = 99;
    expectFailure("GetStatus", backend.GetStatus(handle, &rx, &tx, &events));
    if (rx != 0)
        faults << QStringLiteral("GetStatus reported %1 bytes queued").arg(rx);

    char buffer[256] = {};
    DWORD got = 99;
    expectFailure("Read", backend.Read(handle, buffer, 255, &got));
    if (got != 0)
        faults << QStringLiteral("Read reported %1 bytes read").arg(got);

    const DataWakeup wakeup = backend.Wakeup(handle, 21);
    if (wakeup.fd != -1 || wakeup.pollMs != -1)
        faults << QStringLiteral("Wakeup expects data");
    return faults.join(QStringLiteral("; "));
}
