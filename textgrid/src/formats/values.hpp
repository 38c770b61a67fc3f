// The values that a TextGrid file holds, in the order the layouts store
// them, as the readers name them in their messages: "the start time of item
// 0 of tier 1". Tiers and items count from 0, as everywhere in messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace textgrid {

enum class Value : std::uint8_t {
  Header,       // a text layout's first lines
  ObjectClass,  // the binary layout's class name
  GridStart,
  GridEnd,
  Exists,      // the text layouts' "<exists>" line
  ExistsFlag,  // the binary layout's byte in its place
  TierCount,
  TierClass,
  TierName,
  TierStart,
  TierEnd,
  ItemCount,
  ItemStart,
  ItemEnd,
  ItemText,
  PointTime,
  PointMark,
};

// Returns the words for `what`: "the header", "the class of tier 2", "the
// mark of item 0 of tier 1". `tier` and `item` are 0-based indices. Allocates.
std::string describe(Value what, std::size_t tier = 0, std::size_t item = 0);

}  // namespace textgrid
