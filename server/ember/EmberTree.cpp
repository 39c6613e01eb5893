#include "server/ember/EmberTree.h"

#include <algorithm>
#include <cmath>

namespace qz::ember {

namespace {

bool IsIdentifier(const std::string& str) {
    if (str.empty() || str.find('/') != std::string::npos) return false;
    const char c = str[0];
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsEmpty(const CGlowValue& value) { return std::holds_alternative<std::monostate>(value); }

// Value, minimum and maximum of the parameter's own kind (a bound may be absent); enum
// entries present for an enum.
bool Normalise(CEmberParameter& parameter) {
    using glow::EParameterType;
    switch (parameter.m_eType) {
    case EParameterType::kInteger: case EParameterType::kReal: case EParameterType::kString:
    case EParameterType::kBoolean: case EParameterType::kEnum:
        break;
    default:
        return false;
    }
    if (parameter.m_eType == EParameterType::kEnum && CEmberTree::EnumCount(parameter.m_strEnumeration) == 0)
        return false;
    parameter.m_value = CEmberTree::ConvertToType(parameter.m_eType, parameter.m_value);
    if (IsEmpty(parameter.m_value)) return false;
    // Bounds only for numbers (an enum's come from its entries).
    const bool bNumeric = parameter.m_eType == EParameterType::kInteger || parameter.m_eType == EParameterType::kReal;
    for (CGlowValue* pBound : {&parameter.m_minimum, &parameter.m_maximum}) {
        if (IsEmpty(*pBound)) continue;
        if (!bNumeric) return false;
        *pBound = CEmberTree::ConvertToType(parameter.m_eType, *pBound);
        if (IsEmpty(*pBound)) return false;
    }
    return true;
}

}  // namespace

CEmberTree::CEmberTree() { m_elements.emplace_back(); }

ElementId CEmberTree::Add(ElementId nParent, CEmberElement element) {
    if (!IsValid(nParent) || m_elements[nParent].m_eKind != EElementKind::kNode || !IsIdentifier(element.m_strIdentifier))
        return kNoElement;
    for (ElementId nSibling : m_elements[nParent].m_children) {
        const CEmberElement& sibling = m_elements[nSibling];
        if (sibling.m_nNumber == element.m_nNumber || sibling.m_strIdentifier == element.m_strIdentifier)
            return kNoElement;
    }
    element.m_nParent = nParent;
    const ElementId nId = static_cast<ElementId>(m_elements.size());
    m_elements.push_back(std::move(element));
    m_elements[nParent].m_children.push_back(nId);
    return nId;
}

namespace {
CEmberElement NewElement(EElementKind eKind, uint32_t nNumber, std::string strIdentifier, std::string strDescription) {
    CEmberElement element;
    element.m_eKind = eKind;
    element.m_nNumber = nNumber;
    element.m_strIdentifier = std::move(strIdentifier);
    element.m_strDescription = std::move(strDescription);
    return element;
}
}  // namespace

ElementId CEmberTree::AddNode(ElementId nParent, uint32_t nNumber, std::string strIdentifier,
                              std::string strDescription) {
    return Add(nParent, NewElement(EElementKind::kNode, nNumber, std::move(strIdentifier), std::move(strDescription)));
}

ElementId CEmberTree::AddParameter(ElementId nParent, uint32_t nNumber, std::string strIdentifier,
                                   std::string strDescription, CEmberParameter parameter) {
    if (!Normalise(parameter)) return kNoElement;
    CEmberElement element =
        NewElement(EElementKind::kParameter, nNumber, std::move(strIdentifier), std::move(strDescription));
    element.m_parameter = std::move(parameter);
    return Add(nParent, std::move(element));
}

ElementId CEmberTree::AddFunction(ElementId nParent, uint32_t nNumber, std::string strIdentifier,
                                  std::string strDescription, CEmberFunction function) {
    CEmberElement element =
        NewElement(EElementKind::kFunction, nNumber, std::move(strIdentifier), std::move(strDescription));
    element.m_function = std::move(function);
    return Add(nParent, std::move(element));
}

ElementId CEmberTree::FindChild(ElementId nParent, uint32_t nNumber) const {
    if (!IsValid(nParent)) return kNoElement;
    for (ElementId nChild : m_elements[nParent].m_children)
        if (m_elements[nChild].m_nNumber == nNumber) return nChild;
    return kNoElement;
}

ElementId CEmberTree::Find(const std::vector<uint32_t>& path) const {
    ElementId nId = kRootElement;
    for (uint32_t nNumber : path) {
        nId = FindChild(nId, nNumber);
        if (nId == kNoElement) break;
    }
    return nId;
}

std::vector<uint32_t> CEmberTree::PathOf(ElementId nId) const {
    std::vector<uint32_t> path;
    for (; IsValid(nId) && nId != kRootElement; nId = m_elements[nId].m_nParent) path.push_back(m_elements[nId].m_nNumber);
    std::reverse(path.begin(), path.end());
    return path;
}

bool CEmberTree::Contains(ElementId nAncestor, ElementId nId) const {
    for (; IsValid(nId); nId = m_elements[nId].m_nParent)
        if (nId == nAncestor) return true;
    return false;
}

bool CEmberTree::IsOnline(ElementId nId) const {
    for (; IsValid(nId); nId = m_elements[nId].m_nParent)
        if (!m_elements[nId].m_bOnline) return false;
    return true;
}

bool CEmberTree::SetOnline(ElementId nId, bool bOnline) {
    if (!IsValid(nId) || nId == kRootElement || m_elements[nId].m_eKind == EElementKind::kFunction) return false;
    m_elements[nId].m_bOnline = bOnline;
    return true;
}

bool CEmberTree::SetValue(ElementId nId, const CGlowValue& value) {
    if (!IsValid(nId) || m_elements[nId].m_eKind != EElementKind::kParameter) return false;
    CEmberParameter& parameter = m_elements[nId].m_parameter;
    CGlowValue converted = ConvertToType(parameter.m_eType, value);
    if (IsEmpty(converted)) return false;
    parameter.m_value = std::move(converted);
    return true;
}

size_t CEmberTree::EnumCount(const std::string& strEnumeration) {
    if (strEnumeration.empty()) return 0;
    return static_cast<size_t>(std::count(strEnumeration.begin(), strEnumeration.end(), '\n')) + 1;
}

bool CEmberTree::IsEnumHidden(const std::string& strEnumeration, size_t n) {
    size_t nAt = 0;
    for (size_t i = 0; i < n; ++i) {
        nAt = strEnumeration.find('\n', nAt);
        if (nAt == std::string::npos) return false;
        ++nAt;
    }
    return nAt < strEnumeration.size() && strEnumeration[nAt] == '~';
}

CGlowValue CEmberTree::ConvertToType(glow::EParameterType eType, const CGlowValue& value) {
    using glow::EParameterType;
    switch (eType) {
    case EParameterType::kInteger:
    case EParameterType::kEnum:
        if (std::holds_alternative<int64_t>(value)) return value;
        break;
    case EParameterType::kReal:
        if (const auto* pn = std::get_if<int64_t>(&value)) return static_cast<double>(*pn);
        if (const auto* pd = std::get_if<double>(&value); pd && !std::isnan(*pd)) return value;
        break;
    case EParameterType::kString:
        if (std::holds_alternative<std::string>(value)) return value;
        break;
    case EParameterType::kBoolean:
        if (std::holds_alternative<bool>(value)) return value;
        break;
    default:
        break;
    }
    return {};
}

}  // namespace qz::ember
