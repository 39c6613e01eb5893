#pragma once
// One request of a consumer, as read from a Glow message: a command on an element, or a
// new value for a parameter.
#include <cstdint>
#include <vector>

#include "server/ember/GlowValue.h"

namespace qz::ember {

struct CGlowRequest {
    enum EKind { kGetDirectory, kSubscribe, kUnsubscribe, kInvoke, kSetValue };

    EKind m_eKind = kGetDirectory;
    std::vector<uint32_t> m_path;  // empty: the root
    bool m_bQualified = false;     // asked through a qualified element: answered the same way
    int64_t m_nDirFieldMask = 0;   // kGetDirectory; 0 = every field
    CGlowValue m_value;            // kSetValue
    bool m_bHasInvocationId = false;  // kInvoke: without an id nobody waits for a result
    int32_t m_nInvocationId = 0;
    std::vector<CGlowValue> m_arguments;
};

}  // namespace qz::ember
