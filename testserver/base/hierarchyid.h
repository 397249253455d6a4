// hierarchyid values: the path text ("/1/2.5/") and the packed bit string
// SQL Server stores and sends. Each label integer is written as a range
// prefix, its offset in the range with fixed separator bits between, and a
// last bit that is 1 when a slash follows and 0 when a dot does (the integer
// is then stored one higher). The bits are packed from the high bit of the
// first byte and zero-padded to a byte, so comparing the bytes orders the
// nodes depth first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ts::hid {

// One level: its dot-separated integers ("2.5" is {2, 5}).
using Level = std::vector<int64_t>;
using Path = std::vector<Level>;

// Text to path; false for anything that is not a canonical path
// (leading zeros, spaces, a missing slash, an integer out of range).
bool parseText(const std::string &text, Path &out);
std::string toText(const Path &p);
bool encode(const Path &p, std::string &bytes);
bool decode(const std::string &bytes, Path &out);

// Text straight to bytes and back.
bool textToBytes(const std::string &text, std::string &bytes);
bool bytesToText(const std::string &bytes, std::string &text);

// The ancestor `n` levels up; false when there is none.
bool ancestor(const Path &p, int64_t n, Path &out);
bool isDescendantOf(const Path &child, const Path &parent);
// GetReparentedValue: `p` with its ancestor (or itself) `oldRoot` replaced by
// `newRoot`; false when `oldRoot` is not one.
bool reparent(const Path &p, const Path &oldRoot, const Path &newRoot, Path &out);
// A child of `parent` after `lo` and before `hi` (either may be absent).
// Returns an error text when lo/hi are not children of parent or lo >= hi.
std::string descendant(const Path &parent, const Path *lo, const Path *hi, Path &out);

} // namespace ts::hid
