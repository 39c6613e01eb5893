#pragma once
// The rack behind the Ember+ tree: fills the tree from the units' sessions, follows the
// rack's events (a new unit is announced to every consumer, a unit that goes away is
// marked offline and kept), pushes status texts when they change (at most once per
// 100 ms tick) and carries out the consumers' writes with the window's rules.
//
// A write refused by the tree (range, access) or by the window's rules (Local mode, SW6,
// the frame-rate lock, preset fields the editor disables) is answered at once with the
// current value and nothing is sent. An accepted one is written as the window writes it
// and answered, to every consumer, with the value the device reads back; when no
// read-back comes within kReadBackMs the requester gets the current value.
//
// Thread rules: everything runs on the service's thread (the rack's events are posted
// there); the rack's queries are thread-safe.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/device/Rack.h"
#include "server/ReadBackWaits.h"
#include "server/RackTree.h"
#include "server/ember/EmberProcessor.h"
#include "server/ember/EmberTree.h"

class CRackProvider : private qz::ember::CEmberProcessor::IHandler {
public:
    using Clock = std::chrono::steady_clock;
    using ConsumerId = qz::ember::ConsumerId;
    static constexpr uint32_t kReadBackMs = CReadBackWaits::kReadBackMs;

    // Where the provider's messages go: whole EmBER messages, framed by the receiver.
    class ISink {
    public:
        virtual void SendTo(ConsumerId nConsumer, const std::vector<uint8_t>& ber) = 0;
        virtual void Broadcast(const std::vector<uint8_t>& ber) = 0;
        virtual std::string ConsumerAddress(ConsumerId nConsumer) const = 0;
        // One line for the operator (stderr).
        virtual void Log(const std::string& strLine) = 0;

    protected:
        ~ISink() = default;
    };

    struct COptions {
        std::string strVersion;  // the program's
        std::string strHost;
        bool bReadOnly = false;
    };

    // rack and sink must outlive the provider.
    CRackProvider(CRack& rack, ISink& sink, const COptions& options);

    void AddConsumer(ConsumerId nConsumer) { m_processor.AddConsumer(nConsumer); }
    void RemoveConsumer(ConsumerId nConsumer);
    void HandleMessage(ConsumerId nConsumer, const uint8_t* pData, size_t nLength);
    void OnRackEvent(const CRackEvent& event);
    // The 100 ms tick: status pushes, read-backs that arrived, read-backs overdue.
    void Tick(Clock::time_point now = Clock::now());

    const qz::ember::CEmberTree& Tree() const { return m_tree; }
    const CRackTree& RackTree() const { return m_rackTree; }
    const qz::ember::CEmberProcessor& Processor() const { return m_processor; }

private:
    void OnSetValue(ConsumerId nConsumer, qz::ember::ElementId nParameter, const qz::ember::CGlowValue& value) override;
    void OnInvoke(ConsumerId nConsumer, qz::ember::ElementId nFunction, const qz::ember::CGlowRequest& request) override;
    // The write's read-back arrived (or did not): every consumer hears the value.
    void ReadBack(ConsumerId nConsumer, qz::ember::ElementId nParameter, size_t nUnit, qz::EBlock eBlock, bool bBack);

    void UnitAdded(const std::string& strId);
    void UnitOnline(const std::string& strId, bool bOnline);
    void SetIdentity(size_t nUnit, const CRackUnit& info, bool bNotify);
    // Stores the block's values; pushes those that changed, and nForced whatever it holds.
    void RefreshBlock(size_t nUnit, const CDeviceSession& session, qz::EBlock eBlock, bool bNotify,
                      qz::ember::ElementId nForced = qz::ember::kNoElement);
    void Store(const std::vector<std::pair<qz::ember::ElementId, qz::ember::CGlowValue>>& values, bool bNotify,
               qz::ember::ElementId nForced);
    void Answer(ConsumerId nConsumer, qz::ember::ElementId nParameter);
    std::string ValueText(qz::ember::ElementId nParameter) const;
    std::string ParameterName(qz::ember::ElementId nParameter) const;
    CRackUnit UnitInfo(const std::string& strId) const;

    CRack& m_rack;
    ISink& m_sink;
    COptions m_options;
    qz::ember::CEmberTree m_tree;
    CRackTree m_rackTree;
    qz::ember::CEmberProcessor m_processor{m_tree, *this};
    CReadBackWaits m_waits;
};
