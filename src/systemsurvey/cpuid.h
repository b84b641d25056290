#pragma once

#include <QString>
#include <QtGlobal>

namespace systemsurvey {

struct TCpuidRegisters
{
    quint32 eax = 0;
    quint32 ebx = 0;
    quint32 ecx = 0;
    quint32 edx = 0;
};

// Executes the processor identification instruction for a leaf; all zero on processors without
// it.
TCpuidRegisters executeCpuid(quint32 Leaf);

// The maker named by the 12-character vendor string of leaf 0 (EBX, EDX, ECX), or
// "Unknown Manufacturer".
QString manufacturerOfVendor(const QByteArray& VendorString);

} // namespace systemsurvey
