// Read and write totals poll by poll for soaks of everything that consumes
// counters: busy and idle stretches, totals passing 2^32, and resets (a disk
// unplugged). Each poll says what happened, so a soak knows what the
// consumer should make of it. The busy steps are exaggerated (bursts of up
// to 16 million operations a poll) so that the totals pass 2^32 dozens of
// times in 100,000 polls. Deterministic: the same seed gives the same day.
#pragma once

#include <cstdint>

#include "app/display_settings.h"

struct ScriptedPoll {
  enum class Event { Busy, Idle, Reset };
  Event event;
  std::uint32_t readTotal;
  std::uint32_t writeTotal;
  // Growth since the previous poll, modulo 2^32; 0 after a reset.
  std::uint32_t readGrowth;
  std::uint32_t writeGrowth;
  bool wrapped;  // a total passed 2^32 on this poll
};

class ScriptedTotals {
 public:
  // A long-running machine: the totals start close below the top.
  explicit ScriptedTotals(std::uint32_t seed) : state_(seed | 1u) {}

  ScriptedPoll Next() {
    ++poll_;
    ScriptedPoll poll{ScriptedPoll::Event::Busy, 0, 0, 0, 0, false};
    if (poll_ % 997 == 0) {
      poll.event = ScriptedPoll::Event::Reset;
      read_ = Dropped(read_);
      write_ = Dropped(write_);
    } else if (poll_ / 50 % 3 == 0) {
      poll.event = ScriptedPoll::Event::Idle;  // fifty polls of nothing in every hundred and fifty
    } else {
      poll.readGrowth = Step();
      poll.writeGrowth = Step();
      poll.wrapped = read_ + poll.readGrowth < read_ || write_ + poll.writeGrowth < write_;
      read_ += poll.readGrowth;
      write_ += poll.writeGrowth;
      // A total of exactly 0 reads as "no poll yet" to the scale: step over it.
      if (read_ == 0) ++read_, ++poll.readGrowth;
      if (write_ == 0) ++write_, ++poll.writeGrowth;
    }
    poll.readTotal = read_;
    poll.writeTotal = write_;
    return poll;
  }

 private:
  std::uint32_t Random() {  // xorshift32
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

  // Mostly small steps, a burst one poll in three, a third of the time none.
  std::uint32_t Step() {
    if (Random() % 3 == 0) return 0;
    return Random() % 3 == 0 ? Random() % 16000000 : Random() % 3000;
  }

  // After a reset the total is lower by up to a quarter (a disk's share gone);
  // small totals stay as they are, and it never lands on 0.
  std::uint32_t Dropped(std::uint32_t total) {
    if (total < 4096) return total;
    return total - 1 - Random() % (total / 4);
  }

  std::uint32_t state_;
  std::uint64_t poll_ = 0;
  std::uint32_t read_ = 0xFFFFFFFFu - 40000000u;
  std::uint32_t write_ = 0xFFFFFFFFu - 90000000u;
};

// The settings of one style and colour, for soaks that sweep every style.
inline DisplaySettings Style(bool bar, bool chars, bool symbol, ColorCode color) {
  DisplaySettings settings;
  settings.barIcon = bar;
  settings.charIcon = chars;
  settings.symbolIcon = symbol;
  settings.color = color;
  return settings;
}
