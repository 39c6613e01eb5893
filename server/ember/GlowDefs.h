#pragma once
// Glow DTD 2.50 numbers for the subset we speak: application tags of the types, context
// tags of their fields, command numbers, directory field masks, parameter types and access.
#include <cstdint>

namespace qz::ember::glow {

// Application tags of the types (constructed byte 0x60 | n).
constexpr uint32_t kAppRoot = 0;
constexpr uint32_t kAppParameter = 1;
constexpr uint32_t kAppCommand = 2;
constexpr uint32_t kAppNode = 3;
constexpr uint32_t kAppElementCollection = 4;
constexpr uint32_t kAppQualifiedParameter = 9;
constexpr uint32_t kAppQualifiedNode = 10;
constexpr uint32_t kAppRootElementCollection = 11;
constexpr uint32_t kAppFunction = 19;
constexpr uint32_t kAppQualifiedFunction = 20;
constexpr uint32_t kAppTupleItemDescription = 21;
constexpr uint32_t kAppInvocation = 22;
constexpr uint32_t kAppInvocationResult = 23;

// Every item of a collection (RootElementCollection, ElementCollection, tuples) is [0].
constexpr uint32_t kCollectionItem = 0;

// Node, Parameter, Function and their qualified forms.
constexpr uint32_t kElementNumber = 0;  // the path (RELATIVE-OID) in the qualified forms
constexpr uint32_t kElementContents = 1;
constexpr uint32_t kElementChildren = 2;

// NodeContents.
constexpr uint32_t kNodeIdentifier = 0;
constexpr uint32_t kNodeDescription = 1;
constexpr uint32_t kNodeIsOnline = 3;

// ParameterContents.
constexpr uint32_t kParamIdentifier = 0;
constexpr uint32_t kParamDescription = 1;
constexpr uint32_t kParamValue = 2;
constexpr uint32_t kParamMinimum = 3;
constexpr uint32_t kParamMaximum = 4;
constexpr uint32_t kParamAccess = 5;
constexpr uint32_t kParamFormat = 6;
constexpr uint32_t kParamEnumeration = 7;
constexpr uint32_t kParamIsOnline = 9;
constexpr uint32_t kParamType = 13;

// FunctionContents and TupleItemDescription.
constexpr uint32_t kFunctionIdentifier = 0;
constexpr uint32_t kFunctionDescription = 1;
constexpr uint32_t kFunctionArguments = 2;
constexpr uint32_t kFunctionResult = 3;
constexpr uint32_t kTupleItemType = 0;
constexpr uint32_t kTupleItemName = 1;

// Command, Invocation and InvocationResult.
constexpr uint32_t kCommandNumber = 0;
constexpr uint32_t kCommandDirFieldMask = 1;
constexpr uint32_t kCommandInvocation = 2;
constexpr uint32_t kInvocationId = 0;
constexpr uint32_t kInvocationArguments = 1;
constexpr uint32_t kResultId = 0;
constexpr uint32_t kResultSuccess = 1;
constexpr uint32_t kResultValues = 2;

// Command numbers.
constexpr int64_t kCommandSubscribe = 30;
constexpr int64_t kCommandUnsubscribe = 31;
constexpr int64_t kCommandGetDirectory = 32;
constexpr int64_t kCommandInvoke = 33;

// dirFieldMask: sparse -2, all -1 and default 0 ask for everything (we have no templates);
// positive masks are read as bits, as TinyEmber reads them (tree, 3, thus gives
// identifier and description).
constexpr int64_t kMaskIdentifier = 1;
constexpr int64_t kMaskDescription = 2;
constexpr int64_t kMaskValue = 4;

enum class EParameterType : int64_t { kNull = 0, kInteger = 1, kReal = 2, kString = 3, kBoolean = 4, kTrigger = 5, kEnum = 6 };

enum class EAccess : int64_t { kNone = 0, kRead = 1, kWrite = 2, kReadWrite = 3 };

}  // namespace qz::ember::glow
