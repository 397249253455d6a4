// RPC parameter parsing (name, status, TYPE_INFO, value) and UCS-2 text over
// arbitrary bytes: bad input must end in ProtocolError, never a crash or a
// read past the buffer (ASan checks the latter).
#include "wire/tdsbuffer.h"
#include "wire/tdstypes.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *p = reinterpret_cast<const char *>(data);
    try {
        ts::tds::Reader r(p, size);
        while (!r.atEnd()) {
            const ts::RpcParam param = ts::tds::readParam(r);
            (void)ts::tds::valueText(param.value);
        }
    } catch (const ts::tds::ProtocolError &) {
    }
    try {
        ts::tds::Reader r(p, size);
        (void)r.ucs2(size / 2);
        r.seek(0);
        (void)r.bVarchar();
        (void)r.usVarchar();
    } catch (const ts::tds::ProtocolError &) {
    }
    return 0;
}
