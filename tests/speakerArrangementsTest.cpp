// Speaker arrangements: allocation, release, copying entries and matching.
#include <gtest/gtest.h>

#include <cstring>

#include "ProbeEffect.h"

namespace {

class SpeakerArrangements : public ::testing::Test {
 protected:
  ~SpeakerArrangements() override {
    effect.deallocateArrangement(&slot);
    effect.deallocateArrangement(&source);
  }

  // Fills every byte of each entry so that a missed field shows.
  void fillSource(int32_t channels, int32_t type) {
    ASSERT_TRUE(effect.allocateArrangement(&source, channels));
    source->type = type;
    for (int32_t i = 0; i < channels; ++i) {
      VstSpeakerProperties* speaker = speakerAt(source, i);
      std::memset(speaker, 0x40 + i, sizeof *speaker);
      std::strcpy(speaker->name, i == 0 ? "L" : "R");
      speaker->type = 100 + i;
    }
  }

  DefaultEffectX effect{nullptr};
  VstSpeakerArrangement* slot = nullptr;
  VstSpeakerArrangement* source = nullptr;
};

TEST_F(SpeakerArrangements, AllocationIsZeroFilledAndReplacesTheOldOne) {
  ASSERT_TRUE(effect.allocateArrangement(&slot, 2));
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->numChannels, 2);
  EXPECT_EQ(slot->type, 0);
  const auto* bytes = reinterpret_cast<const unsigned char*>(slot);
  for (std::size_t i = sizeof *slot; i < speakerArrangementBytes(2); ++i) {
    ASSERT_EQ(bytes[i], 0) << i;
  }
  // The first block is released (the leak checker of the sanitizer build
  // would report it otherwise).
  ASSERT_TRUE(effect.allocateArrangement(&slot, 1));
  EXPECT_EQ(slot->numChannels, 1);
  EXPECT_TRUE(effect.deallocateArrangement(&slot));
  EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(effect.deallocateArrangement(&slot));
  EXPECT_TRUE(effect.deallocateArrangement(nullptr));
}

TEST_F(SpeakerArrangements, ImpossibleAllocationsFailWithAnEmptySlot) {
  ASSERT_TRUE(effect.allocateArrangement(&slot, 2));
  EXPECT_FALSE(effect.allocateArrangement(&slot, -1));
  EXPECT_EQ(slot, nullptr);
  EXPECT_FALSE(effect.allocateArrangement(nullptr, 2));
}

TEST_F(SpeakerArrangements, CopySpeakerCopiesEveryFieldAndBoundsTheName) {
  VstSpeakerProperties from;
  std::memset(&from, 'n', sizeof from);  // a name without a terminator
  from.type = 7;
  VstSpeakerProperties to{};
  EXPECT_TRUE(effect.copySpeaker(&to, &from));
  EXPECT_EQ(std::strlen(to.name), sizeof to.name - 1);
  EXPECT_EQ(to.type, 7);
  EXPECT_EQ(std::memcmp(to.values, from.values, sizeof to.values), 0);
  EXPECT_EQ(std::memcmp(to.reserved, from.reserved, sizeof to.reserved), 0);
  EXPECT_FALSE(effect.copySpeaker(nullptr, &from));
  EXPECT_FALSE(effect.copySpeaker(&to, nullptr));
}

TEST_F(SpeakerArrangements, MatchCopiesTypeAndEveryEntry) {
  fillSource(2, 5);
  ASSERT_TRUE(effect.allocateArrangement(&slot, 6));
  ASSERT_TRUE(effect.matchArrangement(&slot, source));
  ASSERT_NE(slot, source);
  EXPECT_EQ(slot->type, 5);
  ASSERT_EQ(slot->numChannels, 2);
  for (int32_t i = 0; i < 2; ++i) {
    const VstSpeakerProperties* to = speakerAt(slot, i);
    const VstSpeakerProperties* from = speakerAt(source, i);
    EXPECT_STREQ(to->name, from->name);
    EXPECT_EQ(to->type, 100 + i);
    EXPECT_EQ(std::memcmp(to->values, from->values, sizeof to->values), 0);
    EXPECT_EQ(std::memcmp(to->reserved, from->reserved, sizeof to->reserved),
              0);
  }
}

TEST_F(SpeakerArrangements, MatchOfAnEmptySourceCopiesTheType) {
  fillSource(0, 9);
  ASSERT_TRUE(effect.matchArrangement(&slot, source));
  EXPECT_EQ(slot->numChannels, 0);
  EXPECT_EQ(slot->type, 9);
}

TEST_F(SpeakerArrangements, MatchWithoutSourceLeavesTheSlot) {
  ASSERT_TRUE(effect.allocateArrangement(&slot, 1));
  VstSpeakerArrangement* before = slot;
  EXPECT_FALSE(effect.matchArrangement(&slot, nullptr));
  EXPECT_EQ(slot, before);
  EXPECT_FALSE(effect.matchArrangement(nullptr, slot));
}

// Releasing the slot first would free the source it is about to read.
TEST_F(SpeakerArrangements, MatchWithItselfKeepsTheArrangement) {
  fillSource(2, 3);
  VstSpeakerArrangement* before = source;
  EXPECT_TRUE(effect.matchArrangement(&source, source));
  EXPECT_EQ(source, before);
  EXPECT_EQ(source->type, 3);
  EXPECT_STREQ(speakerAt(source, 1)->name, "R");
}

}  // namespace
