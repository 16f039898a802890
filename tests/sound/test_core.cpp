#include <cstring>
#include <string>

#include "sound_fixture.h"
#include "win32/kernel.h"

namespace {

using Core = testing_support::SoundLibrary;

TEST_F(Core, StartupTwiceKeepsWhatWasSetBetween) {
    ASSERT_EQ(SVX_startup(), 1);
    EXPECT_EQ(SVX_set_preference(SVX_PREF_SAMPLE_HANDLES, 5), 16);
    EXPECT_EQ(SVX_startup(), 0);
    EXPECT_EQ(SVX_get_preference(SVX_PREF_SAMPLE_HANDLES), 5);
}

TEST_F(Core, StartupResetsPreferencesSetBeforeIt) {
    SVX_shutdown();
    SVX_set_preference(SVX_PREF_SERVICE_PERIOD_MS, 9);
    SVX_set_preference(SVX_PREF_USE_WAVEOUT, 1);
    ASSERT_EQ(SVX_startup(), 1);
    EXPECT_EQ(SVX_get_preference(SVX_PREF_SERVICE_PERIOD_MS), 5);
    EXPECT_EQ(SVX_get_preference(SVX_PREF_USE_WAVEOUT), 0);
}

TEST_F(Core, StartupEmptiesTheErrorText) {
    SVX_shutdown();
    SVX_set_error("Out of memory.");
    ASSERT_EQ(SVX_startup(), 1);
    EXPECT_STREQ(SVX_last_error(), "");
}

TEST_F(Core, PreferenceDefaults) {
    ASSERT_EQ(SVX_startup(), 1);
    const int32_t expected[SVX_PREFERENCE_COUNT] = {
        655, 16, 127, 120, 8, 127, 1, 0, 2, 0, 1536, 49152, 5, 16, 2048, 0,
        32768, 44100, 1, 4096, 120, 24, 0, 1, 0, 1, 0, 1, 1, 20, 1};
    for (int i = 0; i < SVX_PREFERENCE_COUNT; ++i)
        EXPECT_EQ(SVX_get_preference(i), expected[i]) << "preference " << i;
}

TEST_F(Core, PreferenceIndicesOutsideTheTableAreRefused) {
    for (int32_t index : {-1, 31, 1000, INT32_MIN}) {
        EXPECT_EQ(SVX_set_preference(index, 77), 0) << index;
        EXPECT_EQ(SVX_get_preference(index), 0) << index;
    }
    for (int i = 0; i < SVX_PREFERENCE_COUNT; ++i) EXPECT_NE(SVX_get_preference(i), 77);
}

TEST_F(Core, ErrorTextSurvivesSuccessAndIsCutTo255Bytes) {
    ASSERT_EQ(SVX_startup(), 1);
    EXPECT_STREQ(SVX_last_error(), "");
    EXPECT_EQ(SVX_set_error("Out of timer handles."), 22);
    EXPECT_NE(SVX_mem_alloc_lock(16), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Out of timer handles.");

    std::string longer(300, 'x');
    EXPECT_EQ(SVX_set_error(longer.c_str()), 256);
    EXPECT_EQ(std::strlen(SVX_last_error()), 255u);
    EXPECT_EQ(SVX_set_error(nullptr), 0);
    EXPECT_EQ(std::strlen(SVX_last_error()), 255u);
}

TEST_F(Core, MemoryBlocksAreZeroedAndFreedByAddress) {
    auto* block = static_cast<unsigned char*>(SVX_mem_alloc_lock(100000));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 100000; ++i) ASSERT_EQ(block[i], 0);
    HGLOBAL handle = GlobalHandle(block);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GlobalSize(handle), 100000u);
    SVX_mem_free_lock(block);
    EXPECT_EQ(GlobalHandle(block), nullptr);
    SVX_mem_free_lock(nullptr);

    EXPECT_EQ(SVX_mem_alloc_lock(-1), nullptr);
    EXPECT_STREQ(SVX_last_error(), "Out of memory.");
}

TEST_F(Core, ClocksCountFromLoad) {
    uint32_t ms0 = SVX_ms_count(), us0 = SVX_us_count();
    SVX_delay(6);  // 6 ticks of 1/60 s = 100 ms
    uint32_t ms1 = SVX_ms_count(), us1 = SVX_us_count();
    EXPECT_GE(ms1 - ms0, 100u);
    EXPECT_LT(ms1 - ms0, 1000u);
    EXPECT_GE(us1 - us0, 100000u);
    EXPECT_LT(us1 - us0, 1000000u);
    EXPECT_LT(ms0, 60000u) << "counts from the moment the library was loaded";
}

TEST_F(Core, LockIsACounter) {
    SVX_lock();
    SVX_lock();
    SVX_unlock();
    SVX_unlock();
    EXPECT_EQ(SVX_background(), 0);
}

}  // namespace
