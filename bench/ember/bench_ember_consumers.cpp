// Ember+ consumers against a running "qz81kt serve", for bench/rack-bench.sh:
//   bench_ember_consumers PORT latency N          set -> read-back of the first unit's fan, N times
//   bench_ember_consumers PORT fanout K SECONDS   K consumers subscribed to everything: how far
//                                                 each is behind the first with the timecode
//   bench_ember_consumers PORT watch K            K consumers subscribed to everything; prints
//                                                 "online"/"offline" of the first unit as each
//                                                 hears it, until SIGINT or SIGTERM
// Exit status 1 when a consumer lost its connection or an answer did not come.
#include <poll.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "server/EmberTestClient.h"

namespace {

using Clock = std::chrono::steady_clock;
using Path = CEmberTestClient::Path;

// Fixed element numbers of the first unit (the provider's append-only table).
const Path kUnit = {1, 2, 1};
const Path kFan = {1, 2, 1, 3, 11};
const Path kTimecode = {1, 2, 1, 2, 2};

volatile std::sig_atomic_t g_bStop = 0;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> v, double dP) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(dP * static_cast<double>(v.size())))];
}

// Connects and asks for every node's children, so that the consumer hears every change.
std::unique_ptr<CEmberTestClient> Subscribed(uint16_t nPort) {
    auto c = std::make_unique<CEmberTestClient>();
    if (!c->Connect(nPort)) return nullptr;
    std::set<Path> asked;
    c->GetDirectory({});
    for (bool bNew = true; bNew;) {
        c->WaitUntil([] { return false; }, 300);  // what the requests so far bring
        bNew = false;
        for (const auto& [path, seen] : c->m_seen) {
            if (seen.bNode && asked.insert(path).second) {
                c->GetDirectory(path);
                bNew = true;
            }
        }
    }
    return c;
}

// Reads from every consumer until the time is up; onRead(i) after each read of consumer i.
// False when one closed.
template <class F>
bool ReadAll(std::vector<std::unique_ptr<CEmberTestClient>>& clients, int nTimeoutMs, F onRead) {
    std::vector<pollfd> fds;
    for (auto& c : clients) fds.push_back({c->Fd(), POLLIN, 0});
    if (poll(fds.data(), fds.size(), nTimeoutMs) <= 0) return true;
    for (size_t i = 0; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (!clients[i]->ReadSome(0)) {
            std::printf("consumer %zu: connection closed\n", i);
            return false;
        }
        onRead(i);
    }
    return true;
}

int Latency(uint16_t nPort, int nRounds) {
    auto c = Subscribed(nPort);
    if (!c || !c->m_seen.count(kFan)) {
        std::printf("no unit with a fan setting on port %u\n", nPort);
        return 1;
    }
    std::vector<double> ms;
    for (int i = 0; i < nRounds; ++i) {
        const auto* pNow = std::get_if<int64_t>(&c->m_seen[kFan].value);
        const int64_t nWanted = pNow && *pNow == 0 ? 1 : 0;
        const auto t0 = Clock::now();
        c->Set(kFan, nWanted);
        if (!c->WaitUntil([&] { return c->m_seen[kFan].value == qz::ember::CGlowValue(nWanted); })) {
            std::printf("round %d: no read-back within 4 s\n", i);
            return 1;
        }
        ms.push_back(Ms(Clock::now() - t0));
    }
    std::printf("Ember+ set -> read-back at the consumer: median %.1f ms, p99 %.1f ms, max %.1f ms (%d rounds)\n",
                Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0), nRounds);
    return 0;
}

int Fanout(uint16_t nPort, size_t nConsumers, int nSeconds) {
    std::vector<std::unique_ptr<CEmberTestClient>> clients;
    for (size_t i = 0; i < nConsumers; ++i) {
        clients.push_back(Subscribed(nPort));
        if (!clients.back()) return 1;
    }
    // When each consumer first heard each timecode value.
    std::vector<std::map<std::string, Clock::time_point>> heard(nConsumers);
    std::vector<std::string> last(nConsumers);
    const auto end = Clock::now() + std::chrono::seconds(nSeconds);
    while (Clock::now() < end) {
        const bool bOpen = ReadAll(clients, 50, [&](size_t i) {
            const auto* p = std::get_if<std::string>(&clients[i]->m_seen[kTimecode].value);
            if (p && *p != last[i]) heard[i].emplace(last[i] = *p, Clock::now());
        });
        if (!bOpen) return 1;
    }
    // Behind: a consumer's arrival against the first consumer's to hear the same value;
    // gap: the longest wait of one consumer between two values.
    std::vector<double> behind;
    double dGap = 0;
    size_t nValues = 0;
    for (const auto& [value, first] : heard[0]) {
        Clock::time_point earliest = first;
        bool bAll = true;
        for (const auto& h : heard) {
            auto it = h.find(value);
            if (it == h.end()) bAll = false;
            else earliest = std::min(earliest, it->second);
        }
        if (!bAll) continue;
        ++nValues;
        for (const auto& h : heard) behind.push_back(Ms(h.at(value) - earliest));
    }
    for (const auto& h : heard) {
        std::vector<Clock::time_point> times;
        for (const auto& [value, t] : h) times.push_back(t);
        std::sort(times.begin(), times.end());
        for (size_t i = 1; i < times.size(); ++i) dGap = std::max(dGap, Ms(times[i] - times[i - 1]));
    }
    std::printf("%zu consumer(s) over %d s: %zu timecode values heard by all; behind the first: p99 %.1f ms, "
                "max %.1f ms; longest gap between two values at one consumer %.1f ms\n",
                nConsumers, nSeconds, nValues, Percentile(behind, 0.99), Percentile(behind, 1.0), dGap);
    return nValues > 0 ? 0 : 1;
}

int Watch(uint16_t nPort, size_t nConsumers) {
    std::vector<std::unique_ptr<CEmberTestClient>> clients;
    for (size_t i = 0; i < nConsumers; ++i) {
        clients.push_back(Subscribed(nPort));
        if (!clients.back()) return 1;
    }
    std::vector<std::optional<bool>> online(nConsumers);
    std::printf("subscribed\n");
    std::fflush(stdout);
    while (!g_bStop) {
        const bool bOpen = ReadAll(clients, 100, [&](size_t i) {
            const std::optional<bool> b = clients[i]->m_seen[kUnit].bOnline;
            if (b && b != online[i]) {
                online[i] = b;
                std::printf("consumer %zu: %s\n", i, *b ? "online" : "offline");
                std::fflush(stdout);
            }
        });
        if (!bOpen) return 1;
    }
    std::printf("%zu consumers connected to the end\n", nConsumers);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, [](int) { g_bStop = 1; });
    std::signal(SIGTERM, [](int) { g_bStop = 1; });
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PORT latency N | fanout K SECONDS | watch K\n", argv[0]);
        return 2;
    }
    const auto nPort = static_cast<uint16_t>(std::atoi(argv[1]));
    const std::string strMode = argv[2];
    const int n = std::atoi(argv[3]);
    if (strMode == "latency") return Latency(nPort, n);
    if (strMode == "fanout" && argc > 4) return Fanout(nPort, static_cast<size_t>(n), std::atoi(argv[4]));
    if (strMode == "watch") return Watch(nPort, static_cast<size_t>(n));
    std::fprintf(stderr, "unknown mode %s\n", strMode.c_str());
    return 2;
}
