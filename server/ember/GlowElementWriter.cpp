#include "server/ember/GlowElementWriter.h"

#include "server/ember/GlowDefs.h"

namespace qz::ember {

namespace {

using namespace glow;

uint32_t ApplicationOf(EElementKind eKind, bool bQualified) {
    switch (eKind) {
    case EElementKind::kParameter: return bQualified ? kAppQualifiedParameter : kAppParameter;
    case EElementKind::kFunction: return bQualified ? kAppQualifiedFunction : kAppFunction;
    default: return bQualified ? kAppQualifiedNode : kAppNode;
    }
}

void WriteValueField(CBerWriter& writer, uint32_t nContext, const CGlowValue& value) {
    const size_t nMark = writer.Begin(ContextTag(nContext));
    WriteGlowValue(writer, value);
    writer.End(nMark);
}

// TupleDescription: SEQUENCE of [0] TupleItemDescription { [0] type, [1] name }.
void WriteTuple(CBerWriter& writer, uint32_t nContext, const std::vector<CGlowTupleItem>& items) {
    if (items.empty()) return;
    const size_t nField = writer.Begin(ContextTag(nContext));
    const size_t nSequence = writer.Begin(UniversalTag(kBerSequence));
    for (const CGlowTupleItem& item : items) {
        const size_t nItem = writer.Begin(ContextTag(kCollectionItem));
        const size_t nDescription = writer.Begin(ApplicationTag(kAppTupleItemDescription));
        writer.WriteIntegerField(kTupleItemType, static_cast<int64_t>(item.m_eType));
        if (!item.m_strName.empty()) writer.WriteUtf8Field(kTupleItemName, item.m_strName);
        writer.End(nDescription);
        writer.End(nItem);
    }
    writer.End(nSequence);
    writer.End(nField);
}

}  // namespace

unsigned CGlowElementWriter::FieldsOf(int64_t nDirFieldMask) {
    if (nDirFieldMask <= 0) return kFieldAll;
    return static_cast<unsigned>(nDirFieldMask) & (kFieldIdentifier | kFieldDescription | kFieldValue);
}

void CGlowElementWriter::OpenRoot(CBerWriter& writer, std::vector<size_t>& marks) {
    marks.push_back(writer.Begin(ApplicationTag(kAppRoot)));
    marks.push_back(writer.Begin(ApplicationTag(kAppRootElementCollection)));
}

void CGlowElementWriter::OpenElement(CBerWriter& writer, ElementId nId, bool bQualified,
                                     std::vector<size_t>& marks) const {
    const CEmberElement& element = m_tree.Element(nId);
    marks.push_back(writer.Begin(ContextTag(kCollectionItem)));
    if (bQualified) {
        const std::vector<uint32_t> path = m_tree.PathOf(nId);
        marks.push_back(writer.Begin(ApplicationTag(ApplicationOf(element.m_eKind, true))));
        writer.WriteRelativeOidField(kElementNumber, path.data(), path.size());
        return;
    }
    std::vector<ElementId> ancestors;
    for (ElementId n = element.m_nParent; n != kRootElement; n = m_tree.Element(n).m_nParent) ancestors.push_back(n);
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
        marks.push_back(writer.Begin(ApplicationTag(kAppNode)));
        writer.WriteIntegerField(kElementNumber, m_tree.Element(*it).m_nNumber);
        marks.push_back(writer.Begin(ContextTag(kElementChildren)));
        marks.push_back(writer.Begin(ApplicationTag(kAppElementCollection)));
        marks.push_back(writer.Begin(ContextTag(kCollectionItem)));
    }
    marks.push_back(writer.Begin(ApplicationTag(ApplicationOf(element.m_eKind, false))));
    writer.WriteIntegerField(kElementNumber, element.m_nNumber);
}

void CGlowElementWriter::CloseTo(CBerWriter& writer, std::vector<size_t>& marks, size_t nKeep) {
    while (marks.size() > nKeep) {
        writer.End(marks.back());
        marks.pop_back();
    }
}

void CGlowElementWriter::WriteContents(CBerWriter& writer, ElementId nId, unsigned nFields) const {
    const CEmberElement& element = m_tree.Element(nId);
    const size_t nContents = writer.Begin(ContextTag(kElementContents));
    const size_t nSet = writer.Begin(UniversalTag(kBerSet));
    switch (element.m_eKind) {
    case EElementKind::kNode: WriteNodeFields(writer, element, nFields, m_tree.IsOnline(nId)); break;
    case EElementKind::kParameter: WriteParameterFields(writer, element, nFields, m_tree.IsOnline(nId)); break;
    case EElementKind::kFunction: WriteFunctionFields(writer, element, nFields); break;
    }
    writer.End(nSet);
    writer.End(nContents);
}

void CGlowElementWriter::WriteNodeFields(CBerWriter& writer, const CEmberElement& element, unsigned nFields,
                                         bool bOnline) const {
    if (nFields & kFieldIdentifier) writer.WriteUtf8Field(kNodeIdentifier, element.m_strIdentifier);
    if ((nFields & kFieldDescription) && !element.m_strDescription.empty())
        writer.WriteUtf8Field(kNodeDescription, element.m_strDescription);
    if (nFields & kFieldRest) writer.WriteBooleanField(kNodeIsOnline, bOnline);
}

void CGlowElementWriter::WriteParameterFields(CBerWriter& writer, const CEmberElement& element, unsigned nFields,
                                              bool bOnline) const {
    const CEmberParameter& parameter = element.m_parameter;
    const bool bEnum = parameter.m_eType == EParameterType::kEnum;
    if (nFields & kFieldIdentifier) writer.WriteUtf8Field(kParamIdentifier, element.m_strIdentifier);
    if ((nFields & kFieldDescription) && !element.m_strDescription.empty())
        writer.WriteUtf8Field(kParamDescription, element.m_strDescription);
    if ((nFields & kFieldValue) && bOnline) WriteValueField(writer, kParamValue, parameter.m_value);
    if (!(nFields & kFieldRest)) return;
    if (bEnum) {
        writer.WriteIntegerField(kParamMinimum, 0);
        writer.WriteIntegerField(kParamMaximum, static_cast<int64_t>(CEmberTree::EnumCount(parameter.m_strEnumeration)) - 1);
    } else {
        if (!std::holds_alternative<std::monostate>(parameter.m_minimum))
            WriteValueField(writer, kParamMinimum, parameter.m_minimum);
        if (!std::holds_alternative<std::monostate>(parameter.m_maximum))
            WriteValueField(writer, kParamMaximum, parameter.m_maximum);
    }
    writer.WriteIntegerField(kParamAccess, static_cast<int64_t>(parameter.m_eAccess));
    if (!parameter.m_strFormat.empty()) writer.WriteUtf8Field(kParamFormat, parameter.m_strFormat);
    if (bEnum) writer.WriteUtf8Field(kParamEnumeration, parameter.m_strEnumeration);
    if (!bOnline) writer.WriteBooleanField(kParamIsOnline, false);
    writer.WriteIntegerField(kParamType, static_cast<int64_t>(parameter.m_eType));
}

void CGlowElementWriter::WriteFunctionFields(CBerWriter& writer, const CEmberElement& element, unsigned nFields) const {
    if (nFields & kFieldIdentifier) writer.WriteUtf8Field(kFunctionIdentifier, element.m_strIdentifier);
    if ((nFields & kFieldDescription) && !element.m_strDescription.empty())
        writer.WriteUtf8Field(kFunctionDescription, element.m_strDescription);
    if (!(nFields & kFieldRest)) return;
    WriteTuple(writer, kFunctionArguments, element.m_function.m_arguments);
    WriteTuple(writer, kFunctionResult, element.m_function.m_result);
}

void CGlowElementWriter::WriteChildren(CBerWriter& writer, ElementId nId, unsigned nFields) const {
    const size_t nChildren = writer.Begin(ContextTag(kElementChildren));
    const size_t nCollection = writer.Begin(ApplicationTag(kAppElementCollection));
    for (ElementId nChild : m_tree.Element(nId).m_children) {
        const CEmberElement& child = m_tree.Element(nChild);
        const size_t nItem = writer.Begin(ContextTag(kCollectionItem));
        const size_t nElement = writer.Begin(ApplicationTag(ApplicationOf(child.m_eKind, false)));
        writer.WriteIntegerField(kElementNumber, child.m_nNumber);
        WriteContents(writer, nChild, nFields);
        writer.End(nElement);
        writer.End(nItem);
    }
    writer.End(nCollection);
    writer.End(nChildren);
}

std::vector<uint8_t> CGlowElementWriter::RootDirectory(int64_t nDirFieldMask) const {
    CBerWriter writer;
    std::vector<size_t> marks;
    OpenRoot(writer, marks);
    for (ElementId nChild : m_tree.Element(kRootElement).m_children) {
        OpenElement(writer, nChild, false, marks);
        WriteContents(writer, nChild, FieldsOf(nDirFieldMask));
        CloseTo(writer, marks, 2);
    }
    CloseTo(writer, marks, 0);
    return writer.Take();
}

std::vector<uint8_t> CGlowElementWriter::Directory(ElementId nId, bool bQualified, int64_t nDirFieldMask) const {
    if (nId == kRootElement) return RootDirectory(nDirFieldMask);
    CBerWriter writer;
    std::vector<size_t> marks;
    OpenRoot(writer, marks);
    OpenElement(writer, nId, bQualified, marks);
    const CEmberElement& element = m_tree.Element(nId);
    if (element.m_eKind != EElementKind::kNode)
        WriteContents(writer, nId, FieldsOf(nDirFieldMask));
    else if (!element.m_children.empty())  // an empty node goes without contents: "queried, empty"
        WriteChildren(writer, nId, FieldsOf(nDirFieldMask));
    CloseTo(writer, marks, 0);
    return writer.Take();
}

void CGlowElementWriter::WriteStateElement(CBerWriter& writer, ElementId nId, bool bQualified, bool bValue,
                                           bool bOnlineField) const {
    std::vector<size_t> marks;
    OpenElement(writer, nId, bQualified, marks);
    const CEmberElement& element = m_tree.Element(nId);
    const bool bParameter = element.m_eKind == EElementKind::kParameter;
    const bool bOnline = m_tree.IsOnline(nId);
    const size_t nContents = writer.Begin(ContextTag(kElementContents));
    const size_t nSet = writer.Begin(UniversalTag(kBerSet));
    if (bParameter && bValue && bOnline) WriteValueField(writer, kParamValue, element.m_parameter.m_value);
    if (bOnlineField || !bOnline) writer.WriteBooleanField(bParameter ? kParamIsOnline : kNodeIsOnline, bOnline);
    writer.End(nSet);
    writer.End(nContents);
    CloseTo(writer, marks, 0);
}

std::vector<uint8_t> CGlowElementWriter::ValueReport(ElementId nId, bool bQualified) const {
    CBerWriter writer;
    std::vector<size_t> marks;
    OpenRoot(writer, marks);
    WriteStateElement(writer, nId, bQualified, true, false);
    CloseTo(writer, marks, 0);
    return writer.Take();
}

std::vector<uint8_t> CGlowElementWriter::ValueNotification(ElementId nId) const {
    if (!m_tree.IsOnline(nId)) return {};
    return ValueReport(nId, true);
}

std::vector<uint8_t> CGlowElementWriter::OnlineNotification(ElementId nId) const {
    const CEmberElement& element = m_tree.Element(nId);
    if (!m_tree.IsOnline(element.m_nParent)) return {};  // hidden by an offline node above: nothing changed
    CBerWriter writer;
    std::vector<size_t> marks;
    OpenRoot(writer, marks);
    WriteStateElement(writer, nId, true, true, true);
    if (element.m_bOnline && element.m_eKind == EElementKind::kNode) WriteSubtreeState(writer, nId);
    CloseTo(writer, marks, 0);
    return writer.Take();
}

// What consumers may have missed while the node was offline: each node's own state (an
// offline one hides its subtree) and each parameter's value.
void CGlowElementWriter::WriteSubtreeState(CBerWriter& writer, ElementId nId) const {
    for (ElementId nChild : m_tree.Element(nId).m_children) {
        const CEmberElement& child = m_tree.Element(nChild);
        if (child.m_eKind == EElementKind::kFunction) continue;
        WriteStateElement(writer, nChild, true, true, true);
        if (child.m_bOnline && child.m_eKind == EElementKind::kNode) WriteSubtreeState(writer, nChild);
    }
}

std::vector<uint8_t> CGlowElementWriter::InvocationResult(int32_t nInvocationId, bool bSuccess,
                                                          const std::vector<CGlowValue>& result) {
    CBerWriter writer;
    const size_t nRoot = writer.Begin(ApplicationTag(kAppRoot));
    const size_t nResult = writer.Begin(ApplicationTag(kAppInvocationResult));
    writer.WriteIntegerField(kResultId, nInvocationId);
    writer.WriteBooleanField(kResultSuccess, bSuccess);
    if (!result.empty()) {
        const size_t nField = writer.Begin(ContextTag(kResultValues));
        const size_t nSequence = writer.Begin(UniversalTag(kBerSequence));
        for (const CGlowValue& value : result) WriteValueField(writer, kCollectionItem, value);
        writer.End(nSequence);
        writer.End(nField);
    }
    writer.End(nResult);
    writer.End(nRoot);
    return writer.Take();
}

}  // namespace qz::ember
