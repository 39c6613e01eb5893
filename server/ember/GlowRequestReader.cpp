#include "server/ember/GlowRequestReader.h"

#include "server/ember/BerReader.h"
#include "server/ember/GlowDefs.h"

namespace qz::ember {

namespace {

using namespace glow;

bool IsApplication(const CBerElement& element, uint32_t nNumber) { return element.m_tag == ApplicationTag(nNumber); }
bool IsContext(const CBerElement& element, uint32_t nNumber) { return element.m_tag == ContextTag(nNumber); }

// Walks one message, collecting the requests.
// Whether an element's children hold a command. A consumer asking a command of a
// parameter may send its cached contents along (the npm consumer does with every
// GetDirectory): those are then no new value.
bool HasCommandChild(const CBerElement& element) {
    CBerReader fields = CBerReader::Inside(element);
    for (CBerElement field, collection; fields.Next(field);) {
        if (!IsContext(field, kElementChildren) || !ReadInner(field, collection) ||
            !IsApplication(collection, kAppElementCollection))
            continue;
        CBerReader items = CBerReader::Inside(collection);
        for (CBerElement item, child; items.Next(item);)
            if (IsContext(item, kCollectionItem) && ReadInner(item, child) && IsApplication(child, kAppCommand))
                return true;
    }
    return false;
}

class CRequestWalk {
public:
    explicit CRequestWalk(std::vector<CGlowRequest>& requests) : m_requests(requests) {}

    CGlowReadResult Walk(const uint8_t* pData, size_t nLength);

private:
    void RootElement(const CBerElement& element);
    void Element(const CBerElement& element, std::vector<uint32_t>& path, bool bQualified, bool bParameter);
    void SetRequest(const CBerElement& contents, const std::vector<uint32_t>& path, bool bQualified);
    void Children(const CBerElement& children, std::vector<uint32_t>& path, bool bQualified);
    void Command(const CBerElement& command, const std::vector<uint32_t>& path, bool bQualified);
    void Invocation(const CBerElement& invocation, CGlowRequest& request);
    void Push(CGlowRequest&& request);
    // Notes a reader that met bad input.
    void Check(const CBerReader& reader) { m_result.m_bMalformed |= reader.Failed(); }

    std::vector<CGlowRequest>& m_requests;
    CGlowReadResult m_result;
};

CGlowReadResult CRequestWalk::Walk(const uint8_t* pData, size_t nLength) {
    CBerReader top(pData, nLength);
    CBerElement root, collection;
    if (!top.Next(root) || !IsApplication(root, kAppRoot)) {
        Check(top);
        return m_result;
    }
    m_result.m_bRoot = true;
    // Consumers send a RootElementCollection; stream collections and results are not requests.
    if (!ReadInner(root, collection) || !IsApplication(collection, kAppRootElementCollection)) return m_result;
    CBerReader items = CBerReader::Inside(collection);
    for (CBerElement item, element; items.Next(item);)
        if (IsContext(item, kCollectionItem) && ReadInner(item, element)) RootElement(element);
    Check(items);
    return m_result;
}

void CRequestWalk::RootElement(const CBerElement& element) {
    std::vector<uint32_t> path;
    if (IsApplication(element, kAppCommand)) {
        Command(element, path, false);
    } else if (IsApplication(element, kAppNode) || IsApplication(element, kAppFunction)) {
        Element(element, path, false, false);
    } else if (IsApplication(element, kAppParameter)) {
        Element(element, path, false, true);
    } else if (IsApplication(element, kAppQualifiedNode) || IsApplication(element, kAppQualifiedFunction)) {
        Element(element, path, true, false);
    } else if (IsApplication(element, kAppQualifiedParameter)) {
        Element(element, path, true, true);
    }
}

// Node, Parameter, Function or a qualified one: its number (or path) extends the path,
// then its contents and children are read.
void CRequestWalk::Element(const CBerElement& element, std::vector<uint32_t>& path, bool bQualified, bool bParameter) {
    const size_t nOuterLength = path.size();
    CBerReader fields = CBerReader::Inside(element);
    CBerElement field, inner;
    bool bNumbered = false;
    while (!bNumbered && fields.Next(field)) {
        if (!IsContext(field, kElementNumber) || !ReadInner(field, inner)) continue;
        int64_t nNumber = 0;
        if (bQualified) {
            bNumbered = ReadRelativeOid(inner, path, kMaxGlowPathLength) && !path.empty();
        } else if (ReadInteger(inner, nNumber) && nNumber >= 0 && nNumber <= UINT32_MAX &&
                   path.size() < kMaxGlowPathLength) {
            path.push_back(static_cast<uint32_t>(nNumber));
            bNumbered = true;
        }
        if (!bNumbered) break;
    }
    Check(fields);
    if (bNumbered) {
        const bool bValueWrites = bParameter && !HasCommandChild(element);
        fields = CBerReader::Inside(element);
        while (fields.Next(field)) {
            if (bValueWrites && IsContext(field, kElementContents)) SetRequest(field, path, bQualified);
            if (IsContext(field, kElementChildren)) Children(field, path, bQualified);
        }
        Check(fields);
    }
    path.resize(nOuterLength);
}

void CRequestWalk::SetRequest(const CBerElement& contents, const std::vector<uint32_t>& path, bool bQualified) {
    CBerElement set, field, inner;
    if (!ReadInner(contents, set) || set.m_tag != UniversalTag(kBerSet)) return;
    CBerReader fields = CBerReader::Inside(set);
    while (fields.Next(field)) {
        if (!IsContext(field, kParamValue)) continue;  // the rest is the consumer's cache
        CGlowRequest request;
        request.m_eKind = CGlowRequest::kSetValue;
        request.m_path = path;
        request.m_bQualified = bQualified;
        if (ReadInner(field, inner)) ReadGlowValue(inner, request.m_value);
        Push(std::move(request));
        break;
    }
    Check(fields);
}

void CRequestWalk::Children(const CBerElement& children, std::vector<uint32_t>& path, bool bQualified) {
    CBerElement collection;
    if (!ReadInner(children, collection) || !IsApplication(collection, kAppElementCollection)) return;
    CBerReader items = CBerReader::Inside(collection);
    for (CBerElement item, element; items.Next(item);) {
        if (!IsContext(item, kCollectionItem) || !ReadInner(item, element)) continue;
        if (IsApplication(element, kAppCommand))
            Command(element, path, bQualified);
        else if (IsApplication(element, kAppNode) || IsApplication(element, kAppFunction))
            Element(element, path, false, false);
        else if (IsApplication(element, kAppParameter))
            Element(element, path, false, true);
    }
    Check(items);
}

void CRequestWalk::Command(const CBerElement& command, const std::vector<uint32_t>& path, bool bQualified) {
    CGlowRequest request;
    request.m_path = path;
    request.m_bQualified = bQualified;
    int64_t nNumber = -1;
    CBerReader fields = CBerReader::Inside(command);
    for (CBerElement field, inner; fields.Next(field);) {
        if (IsContext(field, kCommandNumber) && ReadInner(field, inner)) {
            ReadInteger(inner, nNumber);
        } else if (IsContext(field, kCommandDirFieldMask) && ReadInner(field, inner)) {
            ReadInteger(inner, request.m_nDirFieldMask);
        } else if (IsContext(field, kCommandInvocation) && ReadInner(field, inner) &&
                   IsApplication(inner, kAppInvocation)) {
            Invocation(inner, request);
        }
    }
    Check(fields);
    switch (nNumber) {
    case kCommandGetDirectory: request.m_eKind = CGlowRequest::kGetDirectory; break;
    case kCommandSubscribe: request.m_eKind = CGlowRequest::kSubscribe; break;
    case kCommandUnsubscribe: request.m_eKind = CGlowRequest::kUnsubscribe; break;
    case kCommandInvoke: request.m_eKind = CGlowRequest::kInvoke; break;
    default: return;  // not a command we know
    }
    Push(std::move(request));
}

void CRequestWalk::Invocation(const CBerElement& invocation, CGlowRequest& request) {
    CBerReader fields = CBerReader::Inside(invocation);
    for (CBerElement field, inner; fields.Next(field);) {
        if (!ReadInner(field, inner)) continue;
        int64_t nId = 0;
        if (IsContext(field, kInvocationId) && ReadInteger(inner, nId) && nId >= INT32_MIN && nId <= INT32_MAX) {
            request.m_bHasInvocationId = true;
            request.m_nInvocationId = static_cast<int32_t>(nId);
        } else if (IsContext(field, kInvocationArguments) && inner.m_tag == UniversalTag(kBerSequence)) {
            CBerReader items = CBerReader::Inside(inner);
            for (CBerElement item, value; items.Next(item);) {
                if (!IsContext(item, kCollectionItem)) continue;
                if (request.m_arguments.size() == kMaxGlowArguments) {
                    m_result.m_bMalformed = true;
                    break;
                }
                request.m_arguments.emplace_back();
                if (ReadInner(item, value)) ReadGlowValue(value, request.m_arguments.back());
            }
            Check(items);
        }
    }
    Check(fields);
}

void CRequestWalk::Push(CGlowRequest&& request) {
    if (m_requests.size() >= kMaxGlowRequests) {
        ++m_result.m_nDropped;
        return;
    }
    m_requests.push_back(std::move(request));
}

}  // namespace

CGlowReadResult ReadGlowRequests(const uint8_t* pData, size_t nLength, std::vector<CGlowRequest>& requests) {
    return CRequestWalk(requests).Walk(pData, nLength);
}

}  // namespace qz::ember
