#include "device/OpResult.h"

QString status_hex(uint32_t status)
{
    return QString::asprintf("0x%08X", status);
}
