#include "formats/values.hpp"

namespace textgrid {

std::string describe(Value what, std::size_t tier, std::size_t item) {
  const std::string of_tier = " of tier " + std::to_string(tier);
  const std::string of_item = " of item " + std::to_string(item) + of_tier;
  switch (what) {
    case Value::Header: return "the header";
    case Value::ObjectClass: return "the object class";
    case Value::GridStart: return "the start time of the TextGrid";
    case Value::GridEnd: return "the end time of the TextGrid";
    case Value::Exists: return "the tiers' <exists> line";
    case Value::ExistsFlag: return "the tiers' <exists> flag";
    case Value::TierCount: return "the number of tiers";
    case Value::TierClass: return "the class" + of_tier;
    case Value::TierName: return "the name" + of_tier;
    case Value::TierStart: return "the start time" + of_tier;
    case Value::TierEnd: return "the end time" + of_tier;
    case Value::ItemCount: return "the number of items" + of_tier;
    case Value::ItemStart: return "the start time" + of_item;
    case Value::ItemEnd: return "the end time" + of_item;
    case Value::ItemText: return "the text" + of_item;
    case Value::PointTime: return "the time" + of_item;
    case Value::PointMark: return "the mark" + of_item;
  }
  return {};
}

}  // namespace textgrid
