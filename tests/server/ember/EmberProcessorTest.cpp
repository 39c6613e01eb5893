#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "server/ember/BerWriter.h"
#include "server/ember/EmberProcessor.h"
#include "support/HexText.h"
#include "tests/server/ember/EmberHex.h"

namespace {

using namespace qz::ember;
using glow::EAccess;
using glow::EParameterType;

std::string HexOf(const Bytes& b) { return HexText(b.data(), b.size()); }

const char kE2[] =
    "60 28 6B 26 A0 24 63 22 A0 03 02 01 01 A1 1B 31 19 A0 08 0C 06 \"device\" A1 08 0C 06 \"Device\" A3 03 01 01 FF";

CEmberParameter Parameter(EParameterType eType, EAccess eAccess, CGlowValue value, CGlowValue minimum = {},
                          CGlowValue maximum = {}, std::string strEnumeration = "") {
    CEmberParameter p;
    p.m_eType = eType;
    p.m_eAccess = eAccess;
    p.m_value = std::move(value);
    p.m_minimum = std::move(minimum);
    p.m_maximum = std::move(maximum);
    p.m_strEnumeration = std::move(strEnumeration);
    return p;
}

// Writes down what reaches the provider.
class CRecordingHandler : public CEmberProcessor::IHandler {
public:
    std::vector<std::string> m_calls;
    void OnSetValue(ConsumerId nConsumer, ElementId nId, const CGlowValue& value) override {
        std::string s = "set " + std::to_string(nConsumer) + " #" + std::to_string(nId) + " ";
        if (const auto* pn = std::get_if<int64_t>(&value)) s += std::to_string(*pn);
        if (const auto* pd = std::get_if<double>(&value)) s += "real " + std::to_string(*pd);
        m_calls.push_back(s);
    }
    void OnInvoke(ConsumerId nConsumer, ElementId nId, const CGlowRequest& request) override {
        m_calls.push_back("invoke " + std::to_string(nConsumer) + " #" + std::to_string(nId) + " id " +
                          std::to_string(request.m_nInvocationId) + " args " +
                          std::to_string(std::get<int64_t>(request.m_arguments.at(0))));
    }
};

// node 1 "device" { 1 mode (enum), 2 gain (real), 3 empty (node), 4 name (read-only string),
// 5 load (function), 6 level (integer 0..10), 7 input (node) { 1 locked (boolean) } }
class EmberProcessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_nDevice = m_tree.AddNode(kRootElement, 1, "device", "Device");
        m_nMode = m_tree.AddParameter(m_nDevice, 1, "mode", "Mode",
                                      Parameter(EParameterType::kEnum, EAccess::kReadWrite, int64_t(1), {}, {}, "Off\nOn\n~Test"));
        m_nGain = m_tree.AddParameter(m_nDevice, 2, "gain", "", Parameter(EParameterType::kReal, EAccess::kReadWrite, 0.0, -20.0, 20.0));
        m_nEmpty = m_tree.AddNode(m_nDevice, 3, "empty", "");
        m_tree.AddParameter(m_nDevice, 4, "name", "", Parameter(EParameterType::kString, EAccess::kRead, std::string("QZ")));
        CEmberFunction load;
        load.m_arguments = {{EParameterType::kInteger, "slot"}};
        load.m_result = {{EParameterType::kBoolean, "ok"}};
        m_nLoad = m_tree.AddFunction(m_nDevice, 5, "load", "", load);
        m_nLevel = m_tree.AddParameter(m_nDevice, 6, "level", "",
                                       Parameter(EParameterType::kInteger, EAccess::kReadWrite, int64_t(3), int64_t(0), int64_t(10)));
        m_nInput = m_tree.AddNode(m_nDevice, 7, "input", "");
        m_tree.AddParameter(m_nInput, 1, "locked", "", Parameter(EParameterType::kBoolean, EAccess::kRead, true));
        ASSERT_EQ(m_tree.Size(), 10u);
    }

    std::vector<std::string> Ask(const Bytes& message, ConsumerId nConsumer = 1) {
        std::vector<Bytes> replies;
        m_processor.HandleMessage(nConsumer, message.data(), message.size(), replies);
        std::vector<std::string> hex;
        for (const Bytes& reply : replies) hex.push_back(HexOf(reply));
        return hex;
    }

    CEmberTree m_tree;
    CRecordingHandler m_handler;
    CEmberProcessor m_processor{m_tree, m_handler};
    ElementId m_nDevice = 0, m_nMode = 0, m_nGain = 0, m_nEmpty = 0, m_nLoad = 0, m_nLevel = 0, m_nInput = 0;
};

// Root { RootElementCollection { [0] QualifiedX path { … } } } or the nested chain, built
// with the writer (whose bytes the other tests pin down).
Bytes Request(const std::vector<uint32_t>& path, bool bQualified, bool bParameter, const CGlowValue* pValue,
              int64_t nCommand = 0, int64_t nMask = 0) {
    CBerWriter w;
    std::vector<size_t> marks = {w.Begin(ApplicationTag(0)), w.Begin(ApplicationTag(11)), w.Begin(ContextTag(0))};
    for (size_t i = 0; !bQualified && i + 1 < path.size(); ++i) {
        marks.push_back(w.Begin(ApplicationTag(3)));
        w.WriteIntegerField(0, path[i]);
        marks.push_back(w.Begin(ContextTag(2)));
        marks.push_back(w.Begin(ApplicationTag(4)));
        marks.push_back(w.Begin(ContextTag(0)));
    }
    marks.push_back(w.Begin(ApplicationTag(bQualified ? (bParameter ? 9 : 10) : (bParameter ? 1 : 3))));
    if (bQualified)
        w.WriteRelativeOidField(0, path.data(), path.size());
    else
        w.WriteIntegerField(0, path.back());
    if (pValue) {
        const size_t nContents = w.Begin(ContextTag(1)), nSet = w.Begin(UniversalTag(kBerSet)), nValue = w.Begin(ContextTag(2));
        WriteGlowValue(w, *pValue);
        for (size_t n : {nValue, nSet, nContents}) w.End(n);
    }
    if (nCommand) {
        const size_t nChildren = w.Begin(ContextTag(2)), nCollection = w.Begin(ApplicationTag(4));
        const size_t nItem = w.Begin(ContextTag(0)), nCommandMark = w.Begin(ApplicationTag(2));
        w.WriteIntegerField(0, nCommand);
        if (nMask) w.WriteIntegerField(1, nMask);
        for (size_t n : {nCommandMark, nItem, nCollection, nChildren}) w.End(n);
    }
    while (!marks.empty()) {
        w.End(marks.back());
        marks.pop_back();
    }
    return w.Take();
}

Bytes GetDirectory(const std::vector<uint32_t>& path, bool bQualified, bool bParameter = false, int64_t nMask = 0) {
    return Request(path, bQualified, bParameter, nullptr, 32, nMask);
}
Bytes Set(const std::vector<uint32_t>& path, bool bQualified, const CGlowValue& value) {
    return Request(path, bQualified, true, &value);
}

TEST_F(EmberProcessorTest, DirectoryRepliesMatchTheWorkedExamples) {
    const Bytes e1 = Hex("60 0B 6B 09 A0 07 62 05 A0 03 02 01 20");
    const Bytes e8 = Hex("60 80 6B 80 A0 80 62 80 A0 04 02 02 00 20 A1 04 02 02 FF FF 00 00 00 00 00 00 00 00");
    EXPECT_EQ(Ask(e1), std::vector<std::string>{HexOf(Hex(kE2))});
    EXPECT_EQ(Ask(e8), std::vector<std::string>{HexOf(Hex(kE2))});
    // E6: a childless node answers with its path alone.
    EXPECT_EQ(Ask(GetDirectory({1, 3}, true)), std::vector<std::string>{"60 0C 6B 0A A0 08 6A 06 A0 04 0D 02 01 03"});
    // E11: a function with its argument and result descriptions.
    EXPECT_EQ(Ask(GetDirectory({1, 5}, true)),
              std::vector<std::string>{HexOf(Hex(
                  "60 40 6B 3E A0 3C 74 3A A0 04 0D 02 01 05 A1 32 31 30 A0 06 0C 04 \"load\" A2 13 30 11 A0 0F 75 0D"
                  " A0 03 02 01 01 A1 06 0C 04 \"slot\" A3 11 30 0F A0 0D 75 0B A0 03 02 01 04 A1 04 0C 02 \"ok\""))});
    // A parameter with every property, then with the value alone.
    EXPECT_EQ(Ask(GetDirectory({1, 6}, true, true)),
              std::vector<std::string>{HexOf(Hex(
                  "60 32 6B 30 A0 2E 69 2C A0 04 0D 02 01 06 A1 24 31 22 A0 07 0C 05 \"level\" A2 03 02 01 03"
                  " A3 03 02 01 00 A4 03 02 01 0A A5 03 02 01 03 AD 03 02 01 01"))});
    EXPECT_EQ(Ask(GetDirectory({1, 6}, true, true, 4)),
              std::vector<std::string>{"60 15 6B 13 A0 11 69 0F A0 04 0D 02 01 06 A1 07 31 05 A2 03 02 01 03"});
    EXPECT_TRUE(m_processor.IsSubscribed(1, m_nLevel));
    EXPECT_TRUE(m_processor.IsSubscribed(1, kRootElement));
}

TEST(EmberProcessorExamples, NestedNodeDirectoryIsE4) {
    CEmberTree tree;
    const ElementId nDevice = tree.AddNode(kRootElement, 1, "device", "Device");
    tree.AddParameter(nDevice, 1, "mode", "Mode",
                      Parameter(EParameterType::kEnum, EAccess::kReadWrite, int64_t(1), {}, {}, "Off\nOn\n~Test"));
    CRecordingHandler handler;
    CEmberProcessor processor(tree, handler);
    const Bytes e3 = Hex("60 1D 6B 1B A0 19 63 17 A0 03 02 01 01 A2 10 64 0E A0 0C 62 0A A0 03 02 01 20 A1 03 02 01 FF");
    std::vector<Bytes> replies;
    processor.HandleMessage(1, e3.data(), e3.size(), replies);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(HexOf(replies[0]),
              HexOf(Hex("60 55 6B 53 A0 51 63 4F A0 03 02 01 01 A2 48 64 46 A0 44 61 42 A0 03 02 01 01 A1 3B 31 39"
                        " A0 06 0C 04 \"mode\" A1 06 0C 04 \"Mode\" A2 03 02 01 01 A3 03 02 01 00 A4 03 02 01 02"
                        " A5 03 02 01 03 A7 0E 0C 0C \"Off\" 0A \"On\" 0A \"~Test\" AD 03 02 01 06")));
}

TEST_F(EmberProcessorTest, MasksPickFieldsAndUnknownPathsGoUnanswered) {
    const std::string all = Ask(GetDirectory({1}, false, false, -2)).at(0);
    const std::string identifiers = Ask(GetDirectory({1}, false, false, 1)).at(0);
    const std::string descriptions = Ask(GetDirectory({1}, false, false, 2)).at(0);
    const std::string values = Ask(GetDirectory({1}, false, false, 4)).at(0);
    const std::string mode = HexOf(Hex("A0 06 0C 04 \"mode\"")), modeText = HexOf(Hex("A1 06 0C 04 \"Mode\""));
    const std::string modeValue = "A2 03 02 01 01", online = "A3 03 01 01 FF";
    EXPECT_EQ(all, Ask(GetDirectory({1}, false, false, 0)).at(0));
    for (const std::string& s : {mode, modeText, modeValue, online}) EXPECT_NE(all.find(s), std::string::npos) << s;
    EXPECT_NE(identifiers.find(mode), std::string::npos);
    EXPECT_EQ(identifiers.find(modeText), std::string::npos);
    EXPECT_NE(descriptions.find(modeText), std::string::npos);
    EXPECT_EQ(descriptions.find(mode), std::string::npos);
    EXPECT_NE(values.find(modeValue), std::string::npos);
    EXPECT_EQ(values.find(online), std::string::npos);
    // The empty node (3) has no description: it comes with an empty contents SET.
    EXPECT_NE(descriptions.find("63 09 A0 03 02 01 03 A1 02 31 00"), std::string::npos);

    for (const Bytes& unknown : {GetDirectory({1, 99}, true), GetDirectory({2}, false), Set({1, 3}, true, int64_t(1))})
        EXPECT_TRUE(Ask(unknown).empty());
    EXPECT_EQ(m_processor.Counters().m_nUnknownPaths, 3u);
}

TEST_F(EmberProcessorTest, WritesAreCheckedBeforeTheyReachTheProvider) {
    const std::string levelReport = "60 15 6B 13 A0 11 69 0F A0 04 0D 02 01 06 A1 07 31 05 A2 03 02 01 03";
    const struct {
        std::vector<uint32_t> path;
        CGlowValue value;
        const char* pszCall;  // null: refused, answered with the current value
    } cases[] = {
        {{1, 2}, -6.5, "set 1 #3 real -6.500000"},
        {{1, 2}, int64_t(5), "set 1 #3 real 5.000000"},  // an integer for a real
        {{1, 2}, 20.5, nullptr},
        {{1, 2}, std::nan(""), nullptr},
        {{1, 2}, std::string("5"), nullptr},
        {{1, 6}, int64_t(10), "set 1 #7 10"},
        {{1, 6}, int64_t(11), nullptr},
        {{1, 6}, int64_t(-1), nullptr},
        {{1, 6}, 3.0, nullptr},
        {{1, 6}, CGlowValue{}, nullptr},  // NULL, or a kind we do not take
        {{1, 1}, int64_t(0), "set 1 #2 0"},
        {{1, 1}, int64_t(2), nullptr},  // hidden entry
        {{1, 1}, int64_t(3), nullptr},
        {{1, 4}, std::string("new"), nullptr},  // read-only
        {{1, 7, 1}, false, nullptr},
    };
    for (const auto& c : cases) {
        for (bool bQualified : {true, false}) {
            m_handler.m_calls.clear();
            const std::vector<std::string> replies = Ask(Set(c.path, bQualified, c.value));
            EXPECT_EQ(m_handler.m_calls, c.pszCall ? std::vector<std::string>{c.pszCall} : std::vector<std::string>{})
                << c.path.back() << " " << bQualified;
            EXPECT_EQ(replies.size(), c.pszCall ? 0u : 1u) << c.path.back();
        }
    }
    EXPECT_EQ(Ask(Set({1, 6}, true, int64_t(11))), std::vector<std::string>{levelReport});
    EXPECT_EQ(Ask(Set({1, 6}, false, int64_t(11))),
              std::vector<std::string>{"60 21 6B 1F A0 1D 63 1B A0 03 02 01 01 A2 14 64 12 A0 10 61 0E A0 03 02 01 06 "
                                       "A1 07 31 05 A2 03 02 01 03"});
}

TEST_F(EmberProcessorTest, ChangesBecomeQualifiedNotificationsAndOfflineSubtreesHideValues) {
    EXPECT_EQ(HexOf(m_processor.UpdateValue(m_nGain, -6.5)),
              "60 17 6B 15 A0 13 69 11 A0 04 0D 02 01 02 A1 09 31 07 A2 05 09 03 C0 02 0D");  // E5
    EXPECT_TRUE(m_processor.UpdateValue(m_nGain, std::string("loud")).empty());
    EXPECT_TRUE(m_processor.UpdateValue(m_nLoad, int64_t(1)).empty());

    EXPECT_EQ(HexOf(m_processor.UpdateOnline(m_nDevice, false)), "60 14 6B 12 A0 10 6A 0E A0 03 0D 01 01 A1 07 31 05 A3 03 01 01 00");
    EXPECT_TRUE(m_processor.UpdateOnline(m_nDevice, false).empty());  // no change
    EXPECT_TRUE(m_processor.UpdateOnline(m_nInput, false).empty());   // hidden by the device node
    EXPECT_TRUE(m_processor.UpdateValue(m_nLevel, int64_t(4)).empty());
    // While offline: no values in directories, writes answered with isOnline false.
    const std::string directory = Ask(GetDirectory({1}, true)).at(0);
    EXPECT_EQ(directory.find("A2 03 02 01"), std::string::npos);
    EXPECT_NE(directory.find("A9 03 01 01 00"), std::string::npos);
    EXPECT_EQ(Ask(Set({1, 6}, true, int64_t(5))),
              std::vector<std::string>{"60 15 6B 13 A0 11 69 0F A0 04 0D 02 01 06 A1 07 31 05 A9 03 01 01 00"});
    EXPECT_TRUE(m_handler.m_calls.empty());

    // Back online: the node, then what consumers missed below it (the value stored meanwhile;
    // the input node still offline, its parameter not sent).
    const std::string back = HexOf(m_processor.UpdateOnline(m_nDevice, true));
    EXPECT_EQ(back.rfind("60 81 9E 6B 81 9B A0 10 6A 0E A0 03 0D 01 01 A1 07 31 05 A3 03 01 01 FF", 0), 0u);
    for (const char* psz : {"69 14 A0 04 0D 02 01 06 A1 0C 31 0A A2 03 02 01 04 A9 03 01 01 FF",
                            "6A 0F A0 04 0D 02 01 07 A1 07 31 05 A3 03 01 01 00"})
        EXPECT_NE(back.find(psz), std::string::npos) << psz;
    EXPECT_EQ(back.find("0D 03 01 07 01"), std::string::npos);
}

TEST_F(EmberProcessorTest, CallsAreCheckedAndResultsEncoded) {
    const Bytes e9 = Hex("60 2B 6B 29 A0 27 74 25 A0 04 0D 02 01 05 A2 1D 64 1B A0 19 62 17 A0 03 02 01 21 A2 10 76 0E"
                         " A0 03 02 01 07 A1 07 30 05 A0 03 02 01 03");
    EXPECT_TRUE(Ask(e9, 4).empty());
    EXPECT_EQ(m_handler.m_calls, std::vector<std::string>{"invoke 4 #6 id 7 args 3"});
    Bytes wrongType = e9;
    wrongType[wrongType.size() - 3] = 0x01;  // BOOLEAN for the INTEGER slot
    EXPECT_EQ(Ask(wrongType), std::vector<std::string>{"60 0C 77 0A A0 03 02 01 07 A1 03 01 01 00"});
    EXPECT_EQ(m_handler.m_calls.size(), 1u);
    EXPECT_EQ(HexOf(CGlowElementWriter::InvocationResult(7, true, {true})),
              "60 15 77 13 A0 03 02 01 07 A1 03 01 01 FF A2 07 30 05 A0 03 01 01 FF");  // E10
}

TEST_F(EmberProcessorTest, SubscriptionsFollowDirectoriesAndUnsubscribe) {
    Ask(GetDirectory({1}, true), 2);
    Ask(Request({1, 7}, true, false, nullptr, 30), 2);
    Ask(Request({1, 6}, true, true, nullptr, 30), 3);
    EXPECT_TRUE(m_processor.IsSubscribed(2, m_nDevice) && m_processor.IsSubscribed(2, m_nInput));
    Ask(Request({1}, true, false, nullptr, 31), 2);
    EXPECT_FALSE(m_processor.IsSubscribed(2, m_nDevice) || m_processor.IsSubscribed(2, m_nInput));
    EXPECT_TRUE(m_processor.IsSubscribed(3, m_nLevel));
    m_processor.RemoveConsumer(3);
    EXPECT_FALSE(m_processor.IsSubscribed(3, m_nLevel));
}

TEST_F(EmberProcessorTest, TreeRefusesClashesAndBadParameters) {
    const CEmberParameter integer = Parameter(EParameterType::kInteger, EAccess::kRead, int64_t(0));
    EXPECT_EQ(m_tree.AddNode(m_nDevice, 1, "other", ""), kNoElement);       // number taken
    EXPECT_EQ(m_tree.AddNode(m_nDevice, 20, "mode", ""), kNoElement);       // identifier taken
    EXPECT_EQ(m_tree.AddNode(m_nDevice, 21, "a/b", ""), kNoElement);
    EXPECT_EQ(m_tree.AddNode(m_nDevice, 22, "9lives", ""), kNoElement);
    EXPECT_EQ(m_tree.AddNode(m_nLevel, 1, "under", ""), kNoElement);        // under a parameter
    EXPECT_EQ(m_tree.AddParameter(m_nDevice, 23, "p", "", Parameter(EParameterType::kInteger, EAccess::kRead, 1.5)), kNoElement);
    EXPECT_EQ(m_tree.AddParameter(m_nDevice, 24, "e", "", Parameter(EParameterType::kEnum, EAccess::kRead, int64_t(0))), kNoElement);
    EXPECT_EQ(m_tree.AddParameter(m_nDevice, 25, "b", "", Parameter(EParameterType::kBoolean, EAccess::kRead, true, false)), kNoElement);
    EXPECT_NE(m_tree.AddParameter(m_nDevice, 26, "_ok", "", integer), kNoElement);
    EXPECT_EQ(m_tree.Find({1, 26}), m_tree.Size() - 1);
}

}  // namespace
