// Equal labels share one str. A tier of phones holds a few dozen distinct
// labels over thousands of intervals, a tier of words a few thousand: making
// each str once and handing out new references to it saves an allocation and
// a copy per repeat, and the caller's memory. strs are immutable, so sharing
// them changes no value; it is what the floats already do.
#pragma once

#include "ref.hpp"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "cached.hpp"
#include "objects.hpp"

namespace plinth {

// The strs made from texts during a build, keyed by the texts' bytes, which
// must stay where they are until the next clear() (views into the text
// read). Long texts, and new ones once the table is half full, are made anew
// each time; the table itself is allocated on the first text it keeps.
class TextCache {
 public:
  TextCache() = default;
  TextCache(const TextCache&) = delete;
  TextCache& operator=(const TextCache&) = delete;
  ~TextCache() { clear(); }

  // Forgets every text, before the texts go: only the slots in use are
  // visited, so a batch clears after each file at the cost of its labels.
  void clear() {
    for (std::size_t k = 0; k < kept_; ++k) {
      Slot& slot = slots_[used_[k]];
      Py_DECREF(slot.str);
      slot = Slot{};
    }
    kept_ = 0;
    hits_ = 0;
  }

  // A new reference to the str of `text` (valid UTF-8), or null with the
  // Python error set.
  PyObject* get(std::string_view text) {
    if (text.empty() || text.size() > kLongest) return new_text(text);
    // Full, and most texts were new: the rest will be too (a tier of
    // free transcriptions); spare them the lookup.
    if (kept_ == kMostKept && hits_ < kMostKept / 4) return new_text(text);
    if (!slots_) {
      slots_.reset(new (std::nothrow) Slot[kSlots]());
      used_.reset(new (std::nothrow) std::uint16_t[kMostKept]);
      if (!slots_ || !used_) {
        slots_.reset();
        return new_text(text);
      }
    }
    const std::uint64_t hash = hash_of(text);
    for (std::size_t i = hash & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
      Slot& slot = slots_[i];
      if (slot.str == nullptr) {
        PyObject* str = new_text(text);
        if (str == nullptr || kept_ == kMostKept) return str;
        slot = Slot{hash, text.data(), text.size(), Py_NewRef(str)};
        used_[kept_++] = static_cast<std::uint16_t>(i);
        return str;
      }
      if (slot.hash == hash && slot.size == text.size() &&
          std::memcmp(slot.bytes, text.data(), text.size()) == 0) {
        ++hits_;
        return Py_NewRef(slot.str);
      }
    }
  }

 private:
  static constexpr std::size_t kLongest = 64;     // longer texts repeat seldom
  static constexpr std::size_t kSlots = 4096;     // a power of two
  static constexpr std::size_t kMostKept = 2048;  // half full at most: probes stay short

  struct Slot {
    std::uint64_t hash;
    const char* bytes;
    std::size_t size;
    PyObject* str;
  };

  // Eight bytes at a time, each word mixed in by a multiplication; the last
  // word zero-padded. Enough to spread labels over the slots.
  static std::uint64_t hash_of(std::string_view text) {
    std::uint64_t hash = text.size() * 0x9E3779B97F4A7C15ULL;
    const char* p = text.data();
    std::size_t left = text.size();
    while (left != 0) {
      std::uint64_t word = 0;
      const std::size_t take = left < 8 ? left : 8;
      std::memcpy(&word, p, take);
      hash = (hash ^ word) * 0xBF58476D1CE4E5B9ULL;
      hash ^= hash >> 31;
      p += take;
      left -= take;
    }
    return hash ^ (hash >> 29);
  }

  std::unique_ptr<Slot[]> slots_;
  std::unique_ptr<std::uint16_t[]> used_;  // the slots in use, in the order filled
  std::size_t kept_ = 0;
  std::size_t hits_ = 0;
};

// The cache of the build under way: one for the process (Cached::texts),
// used with the interpreter lock held (no two builds run at once) and emptied
// when the lease ends, so that it holds no str between calls.
class TextCacheLease {
 public:
  TextCacheLease() : cache_(shared()) {}
  TextCacheLease(const TextCacheLease&) = delete;
  TextCacheLease& operator=(const TextCacheLease&) = delete;
  ~TextCacheLease() { cache_.clear(); }

  TextCache& cache() { return cache_; }

 private:
  static TextCache& shared() {
    TextCache*& texts = cached().texts;
    if (texts == nullptr) texts = new TextCache;
    return *texts;
  }

  TextCache& cache_;
};

}  // namespace plinth
