// Parameter-marker scan over arbitrary text: never crashes, never grows the
// text (":name" becomes one "?"), leaves colon-free text alone, and finds no
// more markers than colons.
#include "core/sqltext.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString in = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const dv::MarkerScan r = dv::scanParameterMarkers(in);
    if (r.text.size() > in.size())
        std::abort();
    if (!in.contains(QLatin1Char(':')) && (r.text != in || !r.names.isEmpty()))
        std::abort();
    // Each marker starts at a colon of the input ("?" may occur inside a
    // name, so the question marks of the output cannot be counted instead).
    if (r.names.size() > in.count(QLatin1Char(':')))
        std::abort();
    return 0;
}
