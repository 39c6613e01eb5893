#include "server/ember/EmberProcessor.h"

#include <cmath>

#include "server/ember/GlowRequestReader.h"

namespace qz::ember {

namespace {

bool IsWritable(glow::EAccess eAccess) { return eAccess == glow::EAccess::kWrite || eAccess == glow::EAccess::kReadWrite; }

template <typename T>
bool InBounds(T value, const CGlowValue& minimum, const CGlowValue& maximum) {
    if (const T* pMin = std::get_if<T>(&minimum); pMin && value < *pMin) return false;
    if (const T* pMax = std::get_if<T>(&maximum); pMax && value > *pMax) return false;
    return true;
}

}  // namespace

void CEmberProcessor::HandleMessage(ConsumerId nConsumer, const uint8_t* pData, size_t nLength,
                                    std::vector<std::vector<uint8_t>>& replies) {
    ++m_counters.m_nMessages;
    m_subscriptions[nConsumer];
    std::vector<CGlowRequest> requests;
    const CGlowReadResult result = ReadGlowRequests(pData, nLength, requests);
    if (!result.m_bRoot || result.m_bMalformed) ++m_counters.m_nMalformed;
    m_counters.m_nDroppedRequests += result.m_nDropped;
    for (const CGlowRequest& request : requests) Handle(nConsumer, request, replies);
}

void CEmberProcessor::Handle(ConsumerId nConsumer, const CGlowRequest& request,
                             std::vector<std::vector<uint8_t>>& replies) {
    const ElementId nId = m_tree.Find(request.m_path);
    const EElementKind eKind = nId == kNoElement ? EElementKind::kNode : m_tree.Element(nId).m_eKind;
    const bool bKnown = nId != kNoElement && (request.m_eKind != CGlowRequest::kSetValue || eKind == EElementKind::kParameter) &&
                        (request.m_eKind != CGlowRequest::kInvoke || eKind == EElementKind::kFunction);
    if (!bKnown) {  // no error reply exists: the consumer times out
        ++m_counters.m_nUnknownPaths;
        return;
    }
    switch (request.m_eKind) {
    case CGlowRequest::kGetDirectory:
        replies.push_back(m_writer.Directory(nId, request.m_bQualified, request.m_nDirFieldMask));
        m_subscriptions[nConsumer].insert(nId);
        return;
    case CGlowRequest::kSubscribe:
        m_subscriptions[nConsumer].insert(nId);
        return;
    case CGlowRequest::kUnsubscribe:
        Unsubscribe(nConsumer, nId);
        return;
    case CGlowRequest::kSetValue:
        SetValue(nConsumer, nId, request, replies);
        return;
    case CGlowRequest::kInvoke:
        Invoke(nConsumer, nId, request, replies);
        return;
    }
}

CGlowValue CEmberProcessor::CheckedWrite(const CEmberElement& element, ElementId nId, const CGlowValue& value) const {
    using glow::EParameterType;
    const CEmberParameter& parameter = element.m_parameter;
    if (!IsWritable(parameter.m_eAccess) || !m_tree.IsOnline(nId)) return {};
    CGlowValue converted = CEmberTree::ConvertToType(parameter.m_eType, value);
    bool bGood = !std::holds_alternative<std::monostate>(converted);
    if (const auto* pn = std::get_if<int64_t>(&converted)) {
        if (parameter.m_eType == EParameterType::kEnum)
            bGood = *pn >= 0 && static_cast<uint64_t>(*pn) < CEmberTree::EnumCount(parameter.m_strEnumeration) &&
                    !CEmberTree::IsEnumHidden(parameter.m_strEnumeration, static_cast<size_t>(*pn));
        else
            bGood = InBounds(*pn, parameter.m_minimum, parameter.m_maximum);
    } else if (const auto* pd = std::get_if<double>(&converted)) {
        bGood = std::isfinite(*pd) && InBounds(*pd, parameter.m_minimum, parameter.m_maximum);
    } else if (const auto* pstr = std::get_if<std::string>(&converted)) {
        bGood = pstr->size() <= kMaxStringValue;
    }
    return bGood ? converted : CGlowValue{};
}

void CEmberProcessor::SetValue(ConsumerId nConsumer, ElementId nId, const CGlowRequest& request,
                               std::vector<std::vector<uint8_t>>& replies) {
    const CGlowValue value = CheckedWrite(m_tree.Element(nId), nId, request.m_value);
    if (std::holds_alternative<std::monostate>(value)) {
        ++m_counters.m_nRefusedWrites;
        replies.push_back(m_writer.ValueReport(nId, request.m_bQualified));
        return;
    }
    m_handler.OnSetValue(nConsumer, nId, value);
}

void CEmberProcessor::Invoke(ConsumerId nConsumer, ElementId nId, const CGlowRequest& request,
                             std::vector<std::vector<uint8_t>>& replies) {
    const std::vector<CGlowTupleItem>& declared = m_tree.Element(nId).m_function.m_arguments;
    CGlowRequest checked = request;
    bool bGood = declared.size() == request.m_arguments.size();
    for (size_t i = 0; bGood && i < declared.size(); ++i) {
        checked.m_arguments[i] = CEmberTree::ConvertToType(declared[i].m_eType, request.m_arguments[i]);
        bGood = !std::holds_alternative<std::monostate>(checked.m_arguments[i]);
    }
    if (!bGood) {
        ++m_counters.m_nRefusedCalls;
        if (request.m_bHasInvocationId)
            replies.push_back(CGlowElementWriter::InvocationResult(request.m_nInvocationId, false, {}));
        return;
    }
    m_handler.OnInvoke(nConsumer, nId, checked);
}

void CEmberProcessor::Unsubscribe(ConsumerId nConsumer, ElementId nId) {
    std::set<ElementId>& subscribed = m_subscriptions[nConsumer];
    for (auto it = subscribed.begin(); it != subscribed.end();)
        it = m_tree.Contains(nId, *it) ? subscribed.erase(it) : std::next(it);
}

std::vector<uint8_t> CEmberProcessor::UpdateValue(ElementId nParameter, const CGlowValue& value) {
    if (!m_tree.SetValue(nParameter, value)) return {};
    return m_writer.ValueNotification(nParameter);
}

std::vector<uint8_t> CEmberProcessor::UpdateOnline(ElementId nId, bool bOnline) {
    if (!m_tree.IsValid(nId) || m_tree.Element(nId).m_bOnline == bOnline || !m_tree.SetOnline(nId, bOnline)) return {};
    return m_writer.OnlineNotification(nId);
}

std::vector<ConsumerId> CEmberProcessor::Watchers(ElementId nId) const {
    const ElementId nParent = m_tree.Element(nId).m_nParent;
    std::vector<ConsumerId> watchers;
    for (const auto& [nConsumer, subscribed] : m_subscriptions)
        if (subscribed.count(nId) != 0 || (nParent != kNoElement && subscribed.count(nParent) != 0))
            watchers.push_back(nConsumer);
    return watchers;
}

bool CEmberProcessor::IsSubscribed(ConsumerId nConsumer, ElementId nId) const {
    const auto it = m_subscriptions.find(nConsumer);
    return it != m_subscriptions.end() && it->second.count(nId) != 0;
}

}  // namespace qz::ember
