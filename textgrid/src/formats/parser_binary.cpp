#include "formats/parser_binary.hpp"

#include <bit>
#include <cstdint>
#include <utility>

#include "formats/values.hpp"
#include "text/text_rules.hpp"

namespace textgrid {

namespace {

// Where the reader stands in the fixed order of values.
enum class Section {
  InHeader,    // magic, class name, time domain, <exists>, tier count
  InTierList,  // between tiers: the next tier's class, or the end
  InTier,      // a tier's name, times and item count
  InItem,      // one interval or point
};

// The fewest bytes that a tier (class length, name length, two times, the
// item count), an interval (two times, text length) and a point (time, mark
// length) can take: a count is checked against these before it is trusted.
constexpr std::uint64_t kMinTierBytes = 1 + 2 + 8 + 8 + 4;
constexpr std::uint64_t kMinIntervalBytes = 8 + 8 + 2;
constexpr std::uint64_t kMinPointBytes = 8 + 2;

// A Praat binary string whose 16-bit length is this value holds UTF-16 units
// after a second length, which counts characters (a surrogate pair is one).
constexpr std::uint32_t kWideString = 0xFFFF;

// Hands out the values in order, each checked against the bytes left; a
// failure records the message and the caller returns it.
class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}

  std::size_t offset() const { return pos_; }
  std::size_t left() const { return data_.size() - pos_; }

  void skip(std::size_t n) { pos_ += n; }

  bool need(std::uint64_t n, Value what, std::size_t tier, std::size_t item) {
    if (n <= left()) return true;
    return failed("Unexpected end of file at byte " + std::to_string(pos_) + ": " +
                  describe(what, tier, item) + " needs " + std::to_string(n) + " bytes, but only " +
                  std::to_string(left()) + " remain");
  }

  std::uint32_t unsigned_at(std::size_t n) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < n; ++k) v = v << 8 | static_cast<unsigned char>(data_[pos_ + k]);
    pos_ += n;
    return v;
  }

  bool real(double& out, Value what, std::size_t tier = 0, std::size_t item = 0) {
    if (!need(8, what, tier, item)) return false;
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < 8; ++k) v = v << 8 | static_cast<unsigned char>(data_[pos_ + k]);
    pos_ += 8;
    out = std::bit_cast<double>(v);
    return true;
  }

  bool byte(std::uint32_t& out, Value what) {
    if (!need(1, what, 0, 0)) return false;
    out = unsigned_at(1);
    return true;
  }

  // A 32-bit count of things that take at least `each` bytes apiece.
  bool count(std::uint32_t& out, std::uint64_t each, Value what, std::size_t tier = 0) {
    const std::size_t at = pos_;
    if (!need(4, what, tier, 0)) return false;
    out = unsigned_at(4);
    if (out * each <= left()) return true;
    return failed("Count too large at byte " + std::to_string(at) + ": " + describe(what, tier, 0) +
                  " is " + std::to_string(out) + ", more than the " + std::to_string(left()) +
                  " bytes after it can hold");
  }

  // A string with a one-byte length (Praat's class names), read as Latin-1.
  bool short_string(std::string& out, Value what, std::size_t tier) {
    if (!need(1, what, tier, 0)) return false;
    const std::uint32_t length = unsigned_at(1);
    if (!need(length, what, tier, 0)) return false;
    latin1(out, length);
    return true;
  }

  // A string with a 16-bit length: that many Latin-1 bytes, or, when the
  // length is kWideString, a character count and UTF-16 units.
  bool string(std::string& out, Value what, std::size_t tier = 0, std::size_t item = 0) {
    if (!need(2, what, tier, item)) return false;
    const std::uint32_t length = unsigned_at(2);
    if (length != kWideString) {
      if (!need(length, what, tier, item)) return false;
      latin1(out, length);
      return true;
    }
    if (!need(2, what, tier, item)) return false;
    const std::uint32_t characters = unsigned_at(2);
    if (!need(std::uint64_t{characters} * 2, what, tier, item)) return false;
    out.clear();
    out.reserve(characters);
    const auto* const begin = reinterpret_cast<const unsigned char*>(data_.data());
    const auto* const end = begin + data_.size();
    for (std::uint32_t c = 0; c < characters; ++c) {
      const auto* p = begin + pos_;
      switch (append_utf16_char(out, p, end, true)) {
        case kUtf16Ok: pos_ = static_cast<std::size_t>(p - begin); continue;
        case kUtf16Unpaired: return bad_utf16(pos_, what, tier, item);
        case kUtf16Short:
          // A high surrogate whose partner is missing is passed before the
          // message names what is left.
          if (left() >= 2) skip(2);
          return need(2, what, tier, item);
      }
    }
    return true;
  }

  bool failed(std::string message) {
    failure_ = Error{ErrorKind::InvalidData, std::move(message), 0};
    return false;
  }

  std::unexpected<Error> failure() { return std::unexpected(std::move(failure_)); }

 private:
  void latin1(std::string& out, std::size_t length) {
    assign_8bit(out, data_.substr(pos_, length), Encoding::Latin1);
    pos_ += length;
  }

  bool bad_utf16(std::size_t at, Value what, std::size_t tier, std::size_t item) {
    return failed("Unpaired UTF-16 surrogate at byte " + std::to_string(at) + " in " +
                  describe(what, tier, item));
  }

  std::string_view data_;
  std::size_t pos_ = 0;
  Error failure_;
};

// The header after the magic: the object class, the TextGrid's bounds and
// its tier count, for which the tiers are reserved.
Status read_header(Bytes& in, TextGrid& grid) {
  in.skip(kBinaryMagic.size());
  const std::size_t at = in.offset();
  std::string object_class;
  if (!in.short_string(object_class, Value::ObjectClass, 0)) return in.failure();
  if (object_class != "TextGrid") {
    return fail(ErrorKind::InvalidData, "Expected the object class \"TextGrid\" at byte " +
                                            std::to_string(at) + ", found \"" + object_class +
                                            "\"");
  }
  if (!in.real(grid.tmin, Value::GridStart)) return in.failure();
  if (!in.real(grid.tmax, Value::GridEnd)) return in.failure();
  std::uint32_t exists = 0;
  if (!in.byte(exists, Value::ExistsFlag)) return in.failure();
  std::uint32_t tiers = 0;
  if (exists != 0 && !in.count(tiers, kMinTierBytes, Value::TierCount)) return in.failure();
  grid.size = tiers;
  grid.tiers.reserve(tiers);
  return {};
}

}  // namespace

bool is_binary_file(std::string_view bytes) {
  return bytes.starts_with(kBinaryMagic);
}

Result<TextGrid> parse_binary(std::string_view bytes, std::string name,
                              const ReadOptions& options) {
  if (!is_binary_file(bytes)) {
    return fail(ErrorKind::InvalidData,
                "Not a binary Praat file: it does not begin with \"ooBinaryFile\"");
  }
  TextGrid grid;
  grid.name = std::move(name);
  Bytes in(bytes);
  Section section = Section::InHeader;
  std::uint32_t items_left = 0;

  for (;;) {
    switch (section) {
      case Section::InHeader: {
        if (Status read = read_header(in, grid); !read) {
          return std::unexpected(std::move(read.error()));
        }
        section = Section::InTierList;
        break;
      }
      case Section::InTierList: {
        if (grid.tiers.size() == grid.size) {
          // Bytes after the last tier are ignored.
          if (options.strict) {
            if (auto valid = grid.assert_valid(); !valid) {
              return std::unexpected(std::move(valid.error()));
            }
          }
          return grid;
        }
        const std::size_t t = grid.tiers.size();
        std::string kind;
        if (!in.short_string(kind, Value::TierClass, t)) return in.failure();
        bool is_interval = true;
        if (kind == "TextTier") {
          is_interval = false;
        } else if (kind != "IntervalTier") {
          return fail(ErrorKind::InvalidData, "Unknown tier class: \"" + kind + "\"");
        }
        grid.tiers.emplace_back().is_interval = is_interval;
        section = Section::InTier;
        break;
      }
      case Section::InTier: {
        const std::size_t t = grid.tiers.size() - 1;
        Tier& tier = grid.tiers.back();
        if (!in.string(tier.name, Value::TierName, t)) return in.failure();
        if (!in.real(tier.tmin, Value::TierStart, t)) return in.failure();
        if (!in.real(tier.tmax, Value::TierEnd, t)) return in.failure();
        const std::uint64_t each = tier.is_interval ? kMinIntervalBytes : kMinPointBytes;
        if (!in.count(items_left, each, Value::ItemCount, t)) return in.failure();
        tier.size = items_left;
        tier.items.reserve(items_left);
        prefer_huge_pages(tier.items.data(), tier.items.capacity() * sizeof(Item));
        section = items_left == 0 ? Section::InTierList : Section::InItem;
        break;
      }
      case Section::InItem: {
        const std::size_t t = grid.tiers.size() - 1;
        Tier& tier = grid.tiers.back();
        const std::size_t i = tier.items.size();
        Item& item = tier.items.emplace_back();
        if (tier.is_interval) {
          if (!in.real(item.tmin, Value::ItemStart, t, i)) return in.failure();
          if (!in.real(item.tmax, Value::ItemEnd, t, i)) return in.failure();
          if (!in.string(item.text, Value::ItemText, t, i)) return in.failure();
        } else {
          if (!in.real(item.tmin, Value::PointTime, t, i)) return in.failure();
          item.tmax = item.tmin;
          if (!in.string(item.text, Value::PointMark, t, i)) return in.failure();
        }
        if (--items_left == 0) section = Section::InTierList;
        break;
      }
    }
  }
}

}  // namespace textgrid
