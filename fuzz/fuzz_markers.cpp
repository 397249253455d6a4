// Parameter-marker scan over arbitrary text: never crashes, never grows the
// text (":name" becomes one "?"), leaves colon-free text alone, and gives one
// name per "?" it wrote outside quotes.
#include "connection/sqltext.h"

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
    // Every marker removed at least its colon; names never hold a separator.
    const qsizetype newMarks = r.text.count(QLatin1Char('?')) - in.count(QLatin1Char('?'));
    if (newMarks != r.names.size())
        std::abort();
    return 0;
}
