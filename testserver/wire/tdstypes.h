// How column types and values look on the wire: COLMETADATA type info and
// ROW values written for the engine's ColumnDef/Value, and RPC parameters
// read back into them.
#pragma once

#include "engine/engine.h"
#include "wire/tdsbuffer.h"

#include <cstdint>
#include <string>

namespace ts::tds {

constexpr uint32_t kTds71 = 0x71000001;
constexpr uint32_t kTds72 = 0x72090002;
constexpr uint32_t kTds73 = 0x730A0003;
constexpr uint32_t kTds74 = 0x74000004;

// UserType, Flags and TYPE_INFO of one column (COLMETADATA without the name).
void writeColumnType(Writer &w, const ColumnDef &c, uint32_t tdsVersion);
// The value of one column in a ROW token.
void writeValue(Writer &w, const ColumnDef &c, const Value &v, uint32_t tdsVersion);
// A sql_variant value (its stored form, see variantvalue.h) with its length.
void writeVariant(Writer &w, const Value &v, uint32_t tdsVersion);

// One RPC parameter: name, status flags, TYPE_INFO and value. Throws
// ProtocolError on truncated or unsupported input.
RpcParam readParam(Reader &r);

// A value as one line of text (NULL, numbers, text with CR/LF escaped, 0x... for bytes).
std::string valueText(const Value &v);

// Helpers with their own tests.
// Decimal text ("-12.5", "3") or a number scaled by 10^scale; false when the
// value is not a number or does not fit 38 digits.
bool toScaled(const Value &v, int scale, unsigned __int128 &magnitude, bool &negative);
std::string scaledToText(unsigned __int128 magnitude, bool negative, int scale);
// "YYYY-MM-DD[ HH:MM:SS[.fff]]" <-> days since 1900-01-01 and 1/300 s ticks.
bool parseDateTime(std::string_view text, int32_t &days, uint32_t &ticks);
std::string formatDateTime(int32_t days, uint32_t ticks);
// Days since 0001-01-01 for a "YYYY-MM-DD..." text; false when invalid.
bool parseDate(std::string_view text, int32_t &daysSince0001);
std::string formatDate(int32_t daysSince0001);

} // namespace ts::tds
