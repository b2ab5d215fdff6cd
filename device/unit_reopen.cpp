#include "device/unit_reopen.h"


namespace device {

std::string SoughtUnit(const char* serialNumber) {
    if (serialNumber != nullptr && serialNumber[0] != '\0')
        return serialNumber;
    return CurrentD2xx().SoughtSerialNumber();
}

} // namespace device
