// Random bytes into the Ember+ provider's layers, as one consumer's TCP stream or as one
// Glow message: nothing may crash; every reply and notification is well-formed BER that
// comes back whole through our framing; a write reaches the provider only when it fits
// its parameter, and a call only with the function's argument count.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "server/ember/BerReader.h"
#include "server/ember/BerWriter.h"
#include "server/ember/EmberProcessor.h"
#include "server/ember/S101Decoder.h"
#include "server/ember/S101Encoder.h"

namespace {

using namespace qz::ember;
using glow::EAccess;
using glow::EParameterType;

// Every element down to the primitives, as far as the reader's depth limit allows.
bool WellFormed(const CBerElement& element) {
    CBerReader inside = CBerReader::Inside(element);
    for (CBerElement child; inside.Next(child);)
        if (!WellFormed(child)) return false;
    return !inside.Failed();
}

class CFramedCopy : public CS101Decoder::ISink {
public:
    std::vector<uint8_t> m_message;
    int m_nMessages = 0, m_nPings = 0;
    void OnEmberMessage(const uint8_t* p, size_t n, uint8_t) override {
        m_message.assign(p, p + n);
        ++m_nMessages;
    }
    void OnKeepAliveRequest(uint8_t) override { ++m_nPings; }
    void OnKeepAliveResponse() override {}
};

// A message we send: one Root, readable to the end, and the same bytes after framing.
void CheckOutgoing(const std::vector<uint8_t>& ber) {
    if (ber.empty()) return;
    CBerReader reader(ber.data(), ber.size());
    CBerElement root;
    FUZZ_CHECK(reader.Next(root) && root.m_tag == ApplicationTag(0) && WellFormed(root));
    FUZZ_CHECK(root.m_pContents + root.m_nLength == ber.data() + ber.size());
    static std::vector<uint8_t> frames;  // kept between runs: fewer allocations, more runs
    static CFramedCopy copy;
    static CS101Decoder decoder(copy);
    frames.clear();
    AppendS101Message(frames, ber.data(), ber.size());
    copy.m_nMessages = 0;
    decoder.Reset();
    decoder.Feed(frames.data(), frames.size());
    FUZZ_CHECK(copy.m_nMessages == 1 && copy.m_message == ber);
}

class CProvider : public CEmberProcessor::IHandler, public CS101Decoder::ISink {
public:
    CProvider() {
        const ElementId nDevice = m_tree.AddNode(kRootElement, 1, "device", "Device");
        CEmberParameter mode{EParameterType::kEnum, EAccess::kReadWrite, int64_t(1), {}, {}, "Off\nOn\n~Test", ""};
        CEmberParameter gain{EParameterType::kReal, EAccess::kReadWrite, 0.0, -20.0, 20.0, "", "%f°dB"};
        CEmberParameter level{EParameterType::kInteger, EAccess::kReadWrite, int64_t(3), int64_t(0), int64_t(10), "", ""};
        CEmberParameter name{EParameterType::kString, EAccess::kReadWrite, std::string("QZ"), {}, {}, "", ""};
        CEmberParameter locked{EParameterType::kBoolean, EAccess::kRead, true, {}, {}, "", ""};
        m_tree.AddParameter(nDevice, 1, "mode", "Mode", mode);
        m_tree.AddParameter(nDevice, 2, "gain", "", gain);
        m_tree.AddNode(nDevice, 3, "empty", "");
        m_tree.AddParameter(nDevice, 4, "name", "", name);
        m_tree.AddFunction(nDevice, 5, "load", "", {{{EParameterType::kInteger, "slot"}}, {{EParameterType::kBoolean, "ok"}}});
        m_tree.AddParameter(nDevice, 6, "level", "", level);
        m_nInput = m_tree.AddNode(nDevice, 7, "input", "");
        m_tree.AddParameter(m_nInput, 1, "locked", "", locked);
    }

    void OnSetValue(ConsumerId, ElementId nId, const CGlowValue& value) override {
        const CEmberParameter& p = m_tree.Element(nId).m_parameter;
        FUZZ_CHECK(IsWritable(p.m_eAccess) && m_tree.IsOnline(nId));
        FUZZ_CHECK(value.index() == CEmberTree::ConvertToType(p.m_eType, value).index());
        if (const auto* pd = std::get_if<double>(&value)) FUZZ_CHECK(*pd >= -20.0 && *pd <= 20.0);
        if (const auto* pn = std::get_if<int64_t>(&value))
            FUZZ_CHECK(*pn >= 0 && *pn <= (p.m_eType == EParameterType::kEnum ? 1 : 10));
        CheckOutgoing(m_processor.UpdateValue(nId, value));
        // Take the device offline now and then, to reach the offline paths.
        CheckOutgoing(m_processor.UpdateOnline(m_nInput, ++m_nWrites % 2 == 0));
    }
    void OnInvoke(ConsumerId nConsumer, ElementId nId, const CGlowRequest& request) override {
        FUZZ_CHECK(m_tree.Element(nId).m_eKind == EElementKind::kFunction && request.m_arguments.size() == 1);
        if (request.m_bHasInvocationId) CheckOutgoing(CGlowElementWriter::InvocationResult(request.m_nInvocationId, true, {true}));
        CheckOutgoing(m_processor.UpdateOnline(1, nConsumer % 2 == 0));
    }

    void OnEmberMessage(const uint8_t* p, size_t n, uint8_t) override { Handle(p, n); }
    void OnKeepAliveRequest(uint8_t) override {}
    void OnKeepAliveResponse() override {}

    void Handle(const uint8_t* p, size_t n) {
        std::vector<std::vector<uint8_t>> replies;
        m_processor.HandleMessage(1, p, n, replies);
        for (const auto& reply : replies) CheckOutgoing(reply);
    }

private:
    static bool IsWritable(EAccess e) { return e == EAccess::kReadWrite || e == EAccess::kWrite; }

    CEmberTree m_tree;
    CEmberProcessor m_processor{m_tree, *this};
    ElementId m_nInput = kNoElement;
    unsigned m_nWrites = 0;
};

// Hands a decoder's output to whichever sink the current run chose.
class CForwardingSink : public CS101Decoder::ISink {
public:
    CS101Decoder::ISink* m_pTo = nullptr;
    void OnEmberMessage(const uint8_t* p, size_t n, uint8_t bySlot) override { m_pTo->OnEmberMessage(p, n, bySlot); }
    void OnKeepAliveRequest(uint8_t bySlot) override { m_pTo->OnKeepAliveRequest(bySlot); }
    void OnKeepAliveResponse() override { m_pTo->OnKeepAliveResponse(); }
};

// Reads the input a byte at a time, zeros once it is used up.
class CInput {
public:
    CInput(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    uint8_t Next() { return m_nAt < m_n ? m_p[m_nAt++] : 0; }
    bool Left() const { return m_nAt < m_n; }

private:
    const uint8_t* m_p;
    size_t m_n, m_nAt = 0;
};

void WriteRandomValue(CBerWriter& w, CInput& in) {
    const uint8_t byKind = in.Next(), by = in.Next();
    switch (byKind % 5) {
    case 0: WriteGlowValue(w, int64_t(static_cast<int8_t>(by))); break;
    case 1: WriteGlowValue(w, static_cast<int8_t>(by) / 4.0); break;
    case 2: WriteGlowValue(w, bool(by & 1)); break;
    case 3: WriteGlowValue(w, std::string(by % 8, 'x')); break;
    default: WriteGlowValue(w, CGlowValue{}); break;
    }
}

// Opens [2] children { ElementCollection { [0] … } }.
void OpenChildItem(CBerWriter& w, std::vector<size_t>& marks) {
    marks.push_back(w.Begin(ContextTag(2)));
    marks.push_back(w.Begin(ApplicationTag(4)));
    marks.push_back(w.Begin(ContextTag(0)));
}

// A command element: 30 + byKind, with a mask or an invocation as the input says.
void WriteCommand(CBerWriter& w, CInput& in, uint8_t byKind, uint8_t byForm) {
    const size_t nCommand = w.Begin(ApplicationTag(2));
    w.WriteIntegerField(0, 30 + byKind);
    if (byKind == 2 && (byForm & 2)) w.WriteIntegerField(1, static_cast<int8_t>(in.Next()));
    if (byKind == 3) {
        const size_t nField = w.Begin(ContextTag(2)), nInvocation = w.Begin(ApplicationTag(22));
        if (byForm & 2) w.WriteIntegerField(0, in.Next());
        const size_t nArgs = w.Begin(ContextTag(1)), nSequence = w.Begin(UniversalTag(kBerSequence));
        for (int nArg = in.Next() % 3; nArg-- > 0;) {
            const size_t nItem = w.Begin(ContextTag(0));
            WriteRandomValue(w, in);
            w.End(nItem);
        }
        for (size_t nMark : {nSequence, nArgs, nInvocation, nField}) w.End(nMark);
    }
    w.End(nCommand);
}

// Well-formed requests chosen by the input, so that the processor's checks are reached
// without the fuzzer first having to find valid BER: commands (30…33) and writes (34) on
// short paths near the tree's own, nested or qualified.
std::vector<uint8_t> StructuredMessage(CInput& in) {
    CBerWriter w;
    const size_t nRoot = w.Begin(ApplicationTag(0)), nCollection = w.Begin(ApplicationTag(11));
    for (int nRequests = 1 + in.Next() % 4; nRequests-- > 0 && in.Left();) {
        const uint8_t byKind = in.Next() % 5, byForm = in.Next();
        const bool bQualified = byForm & 1, bWrite = byKind == 4;
        std::vector<uint32_t> path(in.Next() % 4);
        for (uint32_t& n : path) n = in.Next() % 9;
        std::vector<size_t> marks = {w.Begin(ContextTag(0))};
        for (size_t i = 0; !bQualified && i + 1 < path.size(); ++i) {
            marks.push_back(w.Begin(ApplicationTag(3)));
            w.WriteIntegerField(0, path[i]);
            OpenChildItem(w, marks);
        }
        if (!path.empty()) {
            const uint32_t nApp = byKind == 3 ? 19 : bWrite ? 1 : 3;  // function, parameter, node
            marks.push_back(w.Begin(ApplicationTag(bQualified ? (nApp == 19 ? 20 : nApp == 1 ? 9 : 10) : nApp)));
            if (bQualified)
                w.WriteRelativeOidField(0, path.data(), path.size());
            else
                w.WriteIntegerField(0, path.back());
        }
        if (bWrite) {
            const size_t nContents = w.Begin(ContextTag(1)), nSet = w.Begin(UniversalTag(kBerSet));
            const size_t nValue = w.Begin(ContextTag(2));
            WriteRandomValue(w, in);
            for (size_t nMark : {nValue, nSet, nContents}) w.End(nMark);
        } else {
            if (!path.empty()) OpenChildItem(w, marks);
            WriteCommand(w, in, byKind, byForm);
        }
        for (; !marks.empty(); marks.pop_back()) w.End(marks.back());
    }
    w.End(nCollection);
    w.End(nRoot);
    return w.Take();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t byMode = data[0] % 4;
    const uint8_t* p = data + 1;
    const size_t n = size - 1;
    CProvider provider;
    // Decoders live across runs (Reset between): fewer allocations, more runs per second.
    static CForwardingSink forward;
    static CS101Decoder decoder(forward);
    decoder.Reset();
    forward.m_pTo = &provider;
    if (byMode == 0) {  // a raw TCP stream, in chunks of 1 to 16 bytes
        const auto Frames = [](const CS101Decoder::CCounters& c) {
            return c.m_nFrames + c.m_nBadCrc + c.m_nBadFrames + c.m_nUnknownFrames + c.m_nOversizedFrames;
        };
        const uint64_t nBefore = Frames(decoder.Counters());
        for (size_t i = 0; i < n;) {
            const size_t nChunk = std::min<size_t>(1 + (p[i] & 15), n - i);
            decoder.Feed(p + i, nChunk);
            i += nChunk;
        }
        FUZZ_CHECK(Frames(decoder.Counters()) - nBefore <= n);  // each frame takes bytes
    } else if (byMode == 1) {  // one Glow message
        provider.Handle(p, n);
    } else if (byMode == 2) {  // well-formed requests, a few messages (more only slow the runs)
        CInput in(p, n);
        for (int nMessages = 0; nMessages < 8 && in.Left(); ++nMessages) {
            const std::vector<uint8_t> message = StructuredMessage(in);
            provider.Handle(message.data(), message.size());
        }
    } else {  // one Glow message framed by us, unframed whole
        std::vector<uint8_t> frames;
        AppendS101Message(frames, p, n);
        CFramedCopy copy;
        forward.m_pTo = &copy;
        decoder.Feed(frames.data(), frames.size());
        FUZZ_CHECK(copy.m_nMessages == (n ? 1 : 0) && copy.m_message == std::vector<uint8_t>(p, p + n));
        provider.Handle(p, n);
    }
    return 0;
}
