// The check every backend must pass: calls on a handle it never opened fail
// without harm, and leave the caller's counts at zero.
#pragma once

#include "device/d2xx.h"

#include <QString>

// Empty when every call refused `handle` as it should; else what went wrong.
QString UnopenedHandleFaults(device::CheckedD2xx& backend, FT_HANDLE handle);
