#pragma once
// The provider's side of Glow for the consumers of one service: answers their requests
// from the tree, checks their writes and calls, and turns changes into notifications.
//
// Requests (HandleMessage): every request of the message is answered in turn, each
// answer a whole EmBER message for the asking consumer:
// - GetDirectory on the root, a node, a parameter or a function (see CGlowElementWriter),
//   in the form it was asked in; a path the tree lacks gets no answer at all.
// - A write (a parameter with a value) is checked for access, online state, type (an
//   integer is taken for a real), range and enum entry (hidden entries are refused). A
//   good one goes to IHandler::OnSetValue and is not answered here: the provider writes
//   the device and reports the value read back through UpdateValue, whose notification
//   goes to everyone. A refused one is answered at once with the current value.
// - Invoke: arguments are checked against the function's declared ones; good calls go to
//   IHandler::OnInvoke, bad ones with an invocation id get a failed InvocationResult.
// - GetDirectory and Subscribe subscribe the consumer to the element, Unsubscribe drops
//   the element and everything below it. The record is kept for inspection only: every
//   change is broadcast to all connected consumers, as TinyEmber does, because consumers
//   rely on hearing about parameters they saw in a parent's directory.
//
// Thread rules: not thread-safe. The tree, this processor and the handler's calls belong
// to one thread (the service's asio strand). The handler is called from inside
// HandleMessage; it may call UpdateValue and UpdateOnline (and must broadcast what they
// return), but not HandleMessage.
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "server/ember/EmberTree.h"
#include "server/ember/GlowElementWriter.h"
#include "server/ember/GlowRequest.h"

namespace qz::ember {

using ConsumerId = uint32_t;

class CEmberProcessor {
public:
    class IHandler {
    public:
        // A checked write of a parameter's value (of the parameter's own kind). Report the
        // outcome through UpdateValue, also when the write fails: the consumer waits for it.
        virtual void OnSetValue(ConsumerId nConsumer, ElementId nParameter, const CGlowValue& value) = 0;
        // A checked call. When request.m_bHasInvocationId, answer that consumer (now or
        // later) with CGlowElementWriter::InvocationResult.
        virtual void OnInvoke(ConsumerId nConsumer, ElementId nFunction, const CGlowRequest& request) = 0;

    protected:
        ~IHandler() = default;
    };

    struct CCounters {
        uint64_t m_nMessages = 0;          // messages handled
        uint64_t m_nMalformed = 0;         // messages that were not Glow, or partly unreadable
        uint64_t m_nDroppedRequests = 0;   // over the per-message limit
        uint64_t m_nUnknownPaths = 0;      // requests for elements we do not have (unanswered)
        uint64_t m_nRefusedWrites = 0;     // writes answered with the current value
        uint64_t m_nRefusedCalls = 0;      // calls with bad arguments
    };

    // Longest string value a consumer may write.
    static constexpr size_t kMaxStringValue = 1024;

    // Both must outlive the processor.
    CEmberProcessor(CEmberTree& tree, IHandler& handler) : m_tree(tree), m_writer(tree), m_handler(handler) {}

    void AddConsumer(ConsumerId nConsumer) { m_subscriptions[nConsumer]; }
    void RemoveConsumer(ConsumerId nConsumer) { m_subscriptions.erase(nConsumer); }

    // One whole EmBER message from nConsumer; its answers are appended to replies.
    void HandleMessage(ConsumerId nConsumer, const uint8_t* pData, size_t nLength,
                       std::vector<std::vector<uint8_t>>& replies);

    // Stores a parameter's new value (as read back from the device) and returns the
    // notification for all consumers: empty when the parameter is offline (it goes out
    // when it comes online) or the value does not fit the parameter's type.
    std::vector<uint8_t> UpdateValue(ElementId nParameter, const CGlowValue& value);
    // Sets a node's or parameter's online state and returns the notification for all
    // consumers, or empty when nothing visible changed.
    std::vector<uint8_t> UpdateOnline(ElementId nId, bool bOnline);

    bool IsSubscribed(ConsumerId nConsumer, ElementId nId) const;
    // The consumers that have the element in view: subscribed to it or to its parent (a
    // directory of the parent showed it). A notification for an element a consumer has not
    // seen would make it guess the levels in between (the npm consumer files the element
    // itself in place of the first missing node).
    std::vector<ConsumerId> Watchers(ElementId nId) const;
    const CCounters& Counters() const { return m_counters; }
    const CGlowElementWriter& Writer() const { return m_writer; }

private:
    void Handle(ConsumerId nConsumer, const CGlowRequest& request, std::vector<std::vector<uint8_t>>& replies);
    void SetValue(ConsumerId nConsumer, ElementId nId, const CGlowRequest& request,
                  std::vector<std::vector<uint8_t>>& replies);
    void Invoke(ConsumerId nConsumer, ElementId nId, const CGlowRequest& request,
                std::vector<std::vector<uint8_t>>& replies);
    // The value converted to the parameter's kind when a consumer may write it, else monostate.
    CGlowValue CheckedWrite(const CEmberElement& element, ElementId nId, const CGlowValue& value) const;
    void Unsubscribe(ConsumerId nConsumer, ElementId nId);

    CEmberTree& m_tree;
    CGlowElementWriter m_writer;
    IHandler& m_handler;
    std::map<ConsumerId, std::set<ElementId>> m_subscriptions;
    CCounters m_counters;
};

}  // namespace qz::ember
