#include "systemreason.h"

#include <clocale>
#include <cstring>
#include <locale.h>

QString systemReason(int error)
{
    // The "C" locale's texts are plain ASCII; it is made once and kept.
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    if (cLocale == locale_t(0))
        return QStringLiteral("system error %1").arg(error);
    return QString::fromLatin1(::strerror_l(error, cLocale));
}
