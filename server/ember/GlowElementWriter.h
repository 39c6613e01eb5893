#pragma once
// Writes the tree's elements as whole Glow messages (one Root each): directory replies,
// value reports, change notifications and invocation results.
//
// Replies take the form of the request: nested (the element inside its parent nodes,
// numbers only) or qualified (the element by its path). Values inside an offline subtree
// are never written; such elements say isOnline false instead. A node's isOnline and a
// parameter's type and access always go out with full contents; a parameter's isOnline
// only when false.
#include <cstdint>
#include <vector>

#include "server/ember/BerWriter.h"
#include "server/ember/EmberTree.h"

namespace qz::ember {

class CGlowElementWriter {
public:
    explicit CGlowElementWriter(const CEmberTree& tree) : m_tree(tree) {}

    // GetDirectory on the root: every top-level element with its contents, no grandchildren.
    std::vector<uint8_t> RootDirectory(int64_t nDirFieldMask) const;
    // GetDirectory on an element: a node's children with their contents (a node without
    // children comes back with no contents at all), a parameter's or function's contents.
    std::vector<uint8_t> Directory(ElementId nId, bool bQualified, int64_t nDirFieldMask) const;
    // A parameter's current value (isOnline false when offline): the answer to a set
    // request that is not carried out.
    std::vector<uint8_t> ValueReport(ElementId nId, bool bQualified) const;
    // Qualified: the parameter's value; empty when it is offline.
    std::vector<uint8_t> ValueNotification(ElementId nId) const;
    // Qualified: the element's isOnline; for one that is online now, also every node's
    // own state and every parameter's value below it.
    std::vector<uint8_t> OnlineNotification(ElementId nId) const;

    static std::vector<uint8_t> InvocationResult(int32_t nInvocationId, bool bSuccess,
                                                 const std::vector<CGlowValue>& result);

private:
    // Which contents to write: bits of the directory mask, kFieldRest for all others.
    static constexpr unsigned kFieldIdentifier = 1, kFieldDescription = 2, kFieldValue = 4, kFieldRest = 8;
    static constexpr unsigned kFieldAll = 15;
    static unsigned FieldsOf(int64_t nDirFieldMask);

    // Opens Root and RootElementCollection.
    static void OpenRoot(CBerWriter& writer, std::vector<size_t>& marks);
    // Opens one root element holding nId (inside its parents unless qualified), up to and
    // including its number or path.
    void OpenElement(CBerWriter& writer, ElementId nId, bool bQualified, std::vector<size_t>& marks) const;
    static void CloseTo(CBerWriter& writer, std::vector<size_t>& marks, size_t nKeep);

    void WriteContents(CBerWriter& writer, ElementId nId, unsigned nFields) const;
    void WriteNodeFields(CBerWriter& writer, const CEmberElement& element, unsigned nFields, bool bOnline) const;
    void WriteParameterFields(CBerWriter& writer, const CEmberElement& element, unsigned nFields, bool bOnline) const;
    void WriteFunctionFields(CBerWriter& writer, const CEmberElement& element, unsigned nFields) const;
    void WriteChildren(CBerWriter& writer, ElementId nId, unsigned nFields) const;
    // An element whose contents hold only the value (when online) and isOnline (when
    // asked for, or offline).
    void WriteStateElement(CBerWriter& writer, ElementId nId, bool bQualified, bool bValue, bool bOnlineField) const;
    void WriteSubtreeState(CBerWriter& writer, ElementId nId) const;

    const CEmberTree& m_tree;
};

}  // namespace qz::ember
