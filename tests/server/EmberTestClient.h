#pragma once
// A consumer for the service tests: a plain TCP socket, our own S101 framing and Glow
// requests out, and every element of the replies noted by its path.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "server/ember/BerReader.h"
#include "server/ember/BerWriter.h"
#include "server/ember/GlowValue.h"
#include "server/ember/S101Decoder.h"
#include "server/ember/S101Encoder.h"

struct CSeenElement {
    std::string strIdentifier;
    qz::ember::CGlowValue value;
    std::optional<bool> bOnline;
    int nMentions = 0;
    bool bNode = false;
};

class CEmberTestClient : private qz::ember::CS101Decoder::ISink {
public:
    using Path = std::vector<uint32_t>;

    // Connects from strFrom (any local address when empty) to 127.0.0.1:nPort.
    bool Connect(uint16_t nPort, const char* pszFrom = nullptr) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        if (pszFrom) {
            inet_pton(AF_INET, pszFrom, &a.sin_addr);
            if (bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        }
        a.sin_port = htons(nPort);
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        return connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~CEmberTestClient() {
        if (m_fd >= 0) close(m_fd);
    }

    // Root { RootElementCollection { QualifiedNode/QualifiedParameter path { command or value } } }
    void GetDirectory(const Path& path, bool bParameter = false) { Send(Request(path, bParameter, nullptr)); }
    void Set(const Path& path, const qz::ember::CGlowValue& value) { Send(Request(path, true, &value)); }

    // Reads until pred holds or the time is up; false when the peer closed or time ran out.
    bool WaitUntil(const std::function<bool()>& pred, int nTimeoutMs = 4000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (!pred()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
        }
        return true;
    }
    // Whether the service closed the connection within the time.
    bool ClosedWithin(int nTimeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, nTimeoutMs) <= 0) return false;
        uint8_t by[256];
        return recv(m_fd, by, sizeof by, 0) <= 0;
    }

    std::map<Path, CSeenElement> m_seen;
    std::vector<Path> m_order;  // paths as they were first mentioned

    int Fd() const { return m_fd; }
    // Reads what has arrived within the time; false when the peer closed.
    bool ReadSome(int nTimeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, nTimeoutMs) <= 0) return true;
        uint8_t by[16384];
        const ssize_t n = recv(m_fd, by, sizeof by, 0);
        if (n <= 0) return false;
        m_decoder.Feed(by, static_cast<size_t>(n));
        return true;
    }

private:
    void Send(const std::vector<uint8_t>& ber) {
        std::vector<uint8_t> frames;
        qz::ember::AppendS101Message(frames, ber.data(), ber.size());
        (void)!write(m_fd, frames.data(), frames.size());
    }
    static std::vector<uint8_t> Request(const Path& path, bool bParameter, const qz::ember::CGlowValue* pValue) {
        using namespace qz::ember;
        CBerWriter w;
        std::vector<size_t> marks = {w.Begin(ApplicationTag(0)), w.Begin(ApplicationTag(11)), w.Begin(ContextTag(0))};
        if (path.empty()) {  // on the root: a bare command
            marks.push_back(w.Begin(ApplicationTag(2)));
            w.WriteIntegerField(0, 32);
        } else {
            marks.push_back(w.Begin(ApplicationTag(bParameter ? 9 : 10)));
            w.WriteRelativeOidField(0, path.data(), path.size());
        }
        if (path.empty()) {
        } else if (pValue) {
            marks.push_back(w.Begin(ContextTag(1)));
            marks.push_back(w.Begin(UniversalTag(kBerSet)));
            marks.push_back(w.Begin(ContextTag(2)));
            WriteGlowValue(w, *pValue);
        } else {
            for (unsigned n : {2u, 4u, 0u}) marks.push_back(n == 4 ? w.Begin(ApplicationTag(4)) : w.Begin(ContextTag(n)));
            marks.push_back(w.Begin(ApplicationTag(2)));
            w.WriteIntegerField(0, 32);
        }
        while (!marks.empty()) {
            w.End(marks.back());
            marks.pop_back();
        }
        return w.Take();
    }
    void OnEmberMessage(const uint8_t* p, size_t n, uint8_t) override { Walk(qz::ember::CBerReader(p, n), {}); }
    void OnKeepAliveRequest(uint8_t) override {}
    void OnKeepAliveResponse() override {}

    // Notes every Node, Parameter and Function (nested or qualified) with its contents.
    void Walk(qz::ember::CBerReader reader, const Path& parent) {
        using namespace qz::ember;
        CBerElement e;
        while (reader.Next(e)) {
            const unsigned nApp = e.m_tag.m_byClass == CBerTag::kApplication ? e.m_tag.m_nNumber : 0;
            if (nApp == 1 || nApp == 3 || nApp == 19 || nApp == 9 || nApp == 10 || nApp == 20) {
                Element(CBerReader::Inside(e), parent, nApp == 9 || nApp == 10 || nApp == 20, nApp == 3 || nApp == 10);
            } else if (e.m_tag.m_bConstructed) {
                Walk(CBerReader::Inside(e), parent);
            }
        }
    }
    void Element(qz::ember::CBerReader reader, Path path, bool bQualified, bool bNode) {
        using namespace qz::ember;
        CBerElement field, inner;
        CSeenElement* pSeen = nullptr;
        while (reader.Next(field)) {
            if (!ReadInner(field, inner)) continue;
            if (field.m_tag.m_nNumber == 0) {
                int64_t n = 0;
                if (bQualified) path.clear(), ReadRelativeOid(inner, path, 32);
                else if (ReadInteger(inner, n)) path.push_back(static_cast<uint32_t>(n));
                if (!m_seen.count(path)) m_order.push_back(path);
                pSeen = &m_seen[path];
                ++pSeen->nMentions;
                pSeen->bNode = bNode;
            } else if (field.m_tag.m_nNumber == 1 && pSeen) {
                Contents(CBerReader::Inside(inner), *pSeen);
            } else if (field.m_tag.m_nNumber == 2) {
                Walk(CBerReader::Inside(field), path);
            }
        }
    }
    static void Contents(qz::ember::CBerReader reader, CSeenElement& seen) {
        using namespace qz::ember;
        CBerElement field, inner;
        while (reader.Next(field)) {
            if (!ReadInner(field, inner)) continue;
            bool b = false;
            switch (field.m_tag.m_nNumber) {
                case 0: ReadUtf8(inner, seen.strIdentifier); break;
                case 2: ReadGlowValue(inner, seen.value); break;
                case 3:
                case 9: if (ReadBoolean(inner, b)) seen.bOnline = b; break;
                default: break;
            }
        }
    }

    int m_fd = -1;
    qz::ember::CS101Decoder m_decoder{*this};
};
