#include "ui/neon_title.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(NeonGlowCache, BakesEachKeyOnceAfterItsCopiesWereDrawnAndKeepsItUntilTheKeyChanges) {
    const int font = 0;
    const GlowKey title{"VIBRELLE", &font, 96.0f, 1.0f, 737.5f, 57.6f, 1.0f};
    GlowKey larger = title, wider = title, moved = title, sharper = title;
    larger.fontSize = 144.0f;
    wider.uiScale = 1.5f;
    moved.x = 738.0f;
    sharper.framebufferScale = 2.0f;
    const struct {
        std::int64_t frame;
        const GlowKey& key;
        bool canBake, bakeWorks;
        GlowStep expected;
    } frames[] = {
        {1, title, true, true, GlowStep::DrawCopies}, // the atlas may not hold the glyphs yet
        {2, title, true, true, GlowStep::Bake},
        {3, title, true, true, GlowStep::UseTexture},
        {4, title, false, true, GlowStep::UseTexture}, // a baked glow needs no baking
        {5, larger, true, true, GlowStep::DrawCopies},
        {7, larger, true, true, GlowStep::DrawCopies}, // not the frame before: its glyphs may be gone
        {8, larger, true, true, GlowStep::Bake},
        {9, larger, true, true, GlowStep::UseTexture},
        {10, wider, true, true, GlowStep::DrawCopies},
        {11, wider, false, true, GlowStep::DrawCopies}, // no GL renderer, or the atlas not uploaded
        {12, wider, true, false, GlowStep::Bake},
        {13, wider, true, true, GlowStep::DrawCopies}, // a failed key is not baked again
        {14, moved, true, true, GlowStep::DrawCopies},
        {15, moved, true, true, GlowStep::Bake},
        {16, sharper, true, true, GlowStep::DrawCopies},
        {17, title, true, true, GlowStep::DrawCopies},
        {18, title, true, true, GlowStep::Bake},
    };
    GlowCache cache;
    std::uint32_t nextTexture = 1;
    for (const auto& f : frames) {
        SCOPED_TRACE(testing::Message() << "frame " << f.frame);
        GlowEntry& entry = glowEntryFor(cache, f.key.text);
        const GlowStep step = nextGlowStep(entry, f.key, f.canBake, f.frame);
        ASSERT_EQ(step, f.expected);
        if (step == GlowStep::Bake && f.bakeWorks) {
            glowBaked(cache, entry, f.key, nextTexture++, 0.0f, 0.0f, 1.0f, 1.0f);
        } else if (step == GlowStep::Bake) {
            glowBakeFailed(cache, entry, f.key);
        }
    }
    EXPECT_EQ(cache.entries.size(), 1u) << "one entry per title text";
    EXPECT_EQ(cache.retired, (std::vector<std::uint32_t>{1, 2, 3}))
        << "each replaced texture is handed back once; a failed bake drops the stale one";
    EXPECT_EQ(cache.entries[0].texture, 4u);
}

TEST(NeonGlowCache, KeepsATextureForEachTitleAndDropsTheLeastRecentlyUsedPastItsSize) {
    GlowCache cache;
    for (std::uint32_t i = 1; i <= kGlowCacheEntries + 1; ++i) {
        const GlowKey key{"TITLE " + std::to_string(i), nullptr, 96.0f, 1.0f, 0.0f, 0.0f, 1.0f};
        if (i == kGlowCacheEntries + 1) {
            glowEntryFor(cache, "TITLE 1"); // the first is back on screen just before
        }
        GlowEntry& entry = glowEntryFor(cache, key.text);
        nextGlowStep(entry, key, true, 2 * i);
        ASSERT_EQ(nextGlowStep(entry, key, true, 2 * i + 1), GlowStep::Bake);
        glowBaked(cache, entry, key, i, 0.0f, 0.0f, 1.0f, 1.0f);
    }
    ASSERT_EQ(cache.entries.size(), kGlowCacheEntries);
    EXPECT_EQ(cache.retired, std::vector<std::uint32_t>{2}) << "the second title was the least recently used";
    EXPECT_EQ(glowEntryFor(cache, "TITLE 1").texture, 1u);
}

} // namespace
