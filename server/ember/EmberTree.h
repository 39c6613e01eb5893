#pragma once
// The provider's tree: nodes, parameters and functions, each under a node, addressed by
// number paths. Elements are only ever added, so an element's id and its number path
// stay the same for the tree's whole life. The caller chooses the numbers (from its own
// append-only table); Add refuses a number or identifier already used among the siblings,
// an identifier that is empty, contains '/' or does not begin with a letter or '_', and
// a parameter whose value, minimum or maximum do not fit its type.
//
// Online state: each node and parameter has its own flag; an element is online when it
// and every node above it are (IsOnline).
//
// Not thread-safe: one thread (the service's strand) owns the tree and its processor.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/ember/GlowDefs.h"
#include "server/ember/GlowValue.h"

namespace qz::ember {

using ElementId = uint32_t;
constexpr ElementId kRootElement = 0;  // the tree's unnamed root node
constexpr ElementId kNoElement = UINT32_MAX;

enum class EElementKind { kNode, kParameter, kFunction };

struct CEmberParameter {
    glow::EParameterType m_eType = glow::EParameterType::kInteger;  // integer, real, string, boolean or enum
    glow::EAccess m_eAccess = glow::EAccess::kRead;                 // read or readWrite
    CGlowValue m_value;                // int64_t for integer and enum, double for real, ...
    CGlowValue m_minimum, m_maximum;   // integer and real only; monostate: none
    std::string m_strEnumeration;      // enum: entries separated by LF, "~" hides one
    std::string m_strFormat;           // optional C-style format, "%d°dB"
};

struct CGlowTupleItem {
    glow::EParameterType m_eType = glow::EParameterType::kInteger;
    std::string m_strName;
};

struct CEmberFunction {
    std::vector<CGlowTupleItem> m_arguments, m_result;
};

struct CEmberElement {
    EElementKind m_eKind = EElementKind::kNode;
    uint32_t m_nNumber = 0;
    ElementId m_nParent = kNoElement;
    std::vector<ElementId> m_children;  // in the order added
    std::string m_strIdentifier, m_strDescription;
    bool m_bOnline = true;  // its own flag; see CEmberTree::IsOnline
    CEmberParameter m_parameter;  // kParameter only
    CEmberFunction m_function;    // kFunction only
};

class CEmberTree {
public:
    CEmberTree();

    // The new element's id, or kNoElement when refused (see above); nParent must be a node.
    ElementId AddNode(ElementId nParent, uint32_t nNumber, std::string strIdentifier, std::string strDescription);
    ElementId AddParameter(ElementId nParent, uint32_t nNumber, std::string strIdentifier,
                           std::string strDescription, CEmberParameter parameter);
    ElementId AddFunction(ElementId nParent, uint32_t nNumber, std::string strIdentifier,
                          std::string strDescription, CEmberFunction function);

    ElementId Find(const std::vector<uint32_t>& path) const;
    ElementId FindChild(ElementId nParent, uint32_t nNumber) const;
    std::vector<uint32_t> PathOf(ElementId nId) const;
    bool Contains(ElementId nAncestor, ElementId nId) const;  // nId is nAncestor or below it

    bool IsValid(ElementId nId) const { return nId < m_elements.size(); }
    const CEmberElement& Element(ElementId nId) const { return m_elements[nId]; }
    size_t Size() const { return m_elements.size(); }

    bool IsOnline(ElementId nId) const;
    // Sets a node's or parameter's own flag; false for a function or an unknown id.
    bool SetOnline(ElementId nId, bool bOnline);
    // Stores a parameter's value when it fits the type (an integer for a real parameter is
    // taken as real); false otherwise, leaving the value as it was.
    bool SetValue(ElementId nId, const CGlowValue& value);

    // An enumeration's entries and whether entry n is hidden ("~").
    static size_t EnumCount(const std::string& strEnumeration);
    static bool IsEnumHidden(const std::string& strEnumeration, size_t n);
    // value converted to the parameter's own kind, or monostate when it does not fit.
    static CGlowValue ConvertToType(glow::EParameterType eType, const CGlowValue& value);

private:
    ElementId Add(ElementId nParent, CEmberElement element);

    std::vector<CEmberElement> m_elements;  // [0] is the root
};

}  // namespace qz::ember
