#include <gtest/gtest.h>

#include "midi/MidiApi.h"

TEST(MidiApiTest, NamesAreReadInAnyLetterCaseAndNothingElseIsTaken) {
    const struct {
        const char* pszName;
        bool bTaken;
        EMidiApi eApi;
    } cases[] = {
        {"alsa", true, EMidiApi::Alsa}, {"JACK", true, EMidiApi::Jack},  {"Jack", true, EMidiApi::Jack},
        {"jackd", false, EMidiApi::Auto}, {" jack", false, EMidiApi::Auto}, {"", false, EMidiApi::Auto},
    };
    for (const auto& c : cases) {
        EMidiApi eApi = EMidiApi::Auto;
        EXPECT_EQ(qz::ParseMidiApi(c.pszName, eApi), c.bTaken) << c.pszName;
        EXPECT_EQ(eApi, c.eApi) << c.pszName;
    }
}
