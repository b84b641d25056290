#include "systemsurvey/cpuid.h"

#include <QByteArray>
#include <QHash>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace systemsurvey {

TCpuidRegisters executeCpuid(quint32 Leaf)
{
    TCpuidRegisters registers;
#if defined(__x86_64__) || defined(__i386__)
    unsigned int a = 0, b = 0, c = 0, d = 0;
    __cpuid(Leaf, a, b, c, d);
    registers = {a, b, c, d};
#else
    Q_UNUSED(Leaf)
#endif
    return registers;
}

QString manufacturerOfVendor(const QByteArray& VendorString)
{
    // The leading blanks of two names are what the survey service has always received.
    static const QHash<QByteArray, QString> manufacturers{
        {"AMDisbetter!", QStringLiteral("AMD")},
        {"AuthenticAMD", QStringLiteral("AMD")},
        {"CentaurHauls", QStringLiteral("Centaur")},
        {"CyrixInstead", QStringLiteral("Cyrix")},
        {"GenuineIntel", QStringLiteral("Intel")},
        {"TransmetaCPU", QStringLiteral("Transmeta")},
        {"GenuineTMx86", QStringLiteral("Transmeta")},
        {"Geode by NSC", QStringLiteral("National Semiconductor")},
        {"NexGenDriven", QStringLiteral("NexGen")},
        {"RiseRiseRise", QStringLiteral("Rise")},
        {"SiS SiS SiS ", QStringLiteral("SiS")},
        {"UMC UMC UMC ", QStringLiteral("UMC")},
        {"VIA VIA VIA ", QStringLiteral("VIA")},
        {"Vortex86 SoC", QStringLiteral(" Vortex")},
        {"KVMKVMKVMKVM", QStringLiteral("KVM")},
        {"Microsoft Hv", QStringLiteral("Microsoft Hyper-V or Windows Virtual PC")},
        {"VMwareVMware", QStringLiteral("VMware")},
        {"XenVMMXenVMM", QStringLiteral(" Xen HVM")},
    };
    return manufacturers.value(VendorString, QStringLiteral("Unknown Manufacturer"));
}

} // namespace systemsurvey
