#include <gtest/gtest.h>

#include "midi/platform/PortListing.h"

// A number refers to the listing as it stands; one beyond it lists again, once. An
// unreadable name is opened by number (an empty target).
TEST(PortListing, OpenTargetListsAgainOnlyBeyondTheList) {
    const struct { uint32_t m_uPort; bool m_bRelistFindsC; MMRESULT m_mmr; const char* m_pszTarget; int m_nRelists; }
        cases[] = {{0, false, MMSYSERR_NOERROR, "a", 0}, {1, false, MMSYSERR_NOERROR, "", 0},
                   {2, true, MMSYSERR_NOERROR, "c", 1}, {2, false, MMSYSERR_BADDEVICEID, "", 1}};
    for (const auto& c : cases) {
        std::mutex mutex;
        CPortListing listing;
        listing.Add("a");
        listing.AddUnreadable();
        int nRelists = 0;
        auto relist = [&] {
            std::lock_guard<std::mutex> lock(mutex);  // not held by the caller
            ++nRelists;
            if (c.m_bRelistFindsC) listing.Add("c");
        };
        std::string strTarget, strName;
        EXPECT_EQ(CPortListing::OpenTarget(mutex, listing, c.m_uPort, relist, strTarget), c.m_mmr) << c.m_uPort;
        EXPECT_EQ(strTarget, c.m_pszTarget) << c.m_uPort;
        EXPECT_EQ(nRelists, c.m_nRelists) << c.m_uPort;
        EXPECT_EQ(listing.Name(1, strName), MMSYSERR_ERROR);
    }
}
