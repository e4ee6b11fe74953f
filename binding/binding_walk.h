#pragma once

// The walk over a value tree in document order that BindingProperty::Accept performs, as a
// template over the visitor. Accept instantiates it for the abstract BindingVisitor; a writer that
// names its own final visitor type gets every call resolved at compile time, which matters when a
// document has hundreds of thousands of values. The order of calls is the one binding_visitor.h
// describes. The walk keeps its own stack, so deep trees do not exhaust the machine stack.

#include <cstddef>
#include <vector>

#include "binding/binding_allocator.h"
#include "binding/binding_property.h"

namespace Korvel {

template <typename Visitor>
void WalkBindingValue(const BindingProperty& root, Visitor& visitor) {
    using MemberIterator = BindingMemberRange<true>::Iterator;
    struct Frame {
        const BindingProperty* elements; // collection: its elements
        std::size_t index;               // collection: the element being or next to be visited
        std::size_t count;               // collection: its element count
        MemberIterator member;           // structure: the member being or next to be visited
        MemberIterator end;
        bool isCollection;
        bool inChild;
    };
    std::vector<Frame, BindingAllocator<Frame>> stack;

    // Emits a leaf, or opens a container and pushes its frame.
    auto enter = [&](const BindingProperty& value) {
        switch (value.Kind()) {
        case BindingKind::Empty:
            visitor.Null();
            break;
        case BindingKind::Bool:
            visitor.Bool(value.GetBool());
            break;
        case BindingKind::Signed:
            visitor.Int64(value.GetSigned());
            break;
        case BindingKind::Unsigned:
            visitor.Uint64(value.GetUnsigned());
            break;
        case BindingKind::Float:
            visitor.Double(value.GetFloat());
            break;
        case BindingKind::String:
            visitor.String(value.GetString());
            break;
        case BindingKind::Blob:
            visitor.Blob(value.GetBlob());
            break;
        case BindingKind::Enum:
            visitor.Enum(value.GetEnum());
            break;
        case BindingKind::Collection: {
            const auto elements = value.Elements();
            visitor.StartArray(elements.size());
            stack.push_back({elements.data(), 0, elements.size(), {}, {}, true, false});
            break;
        }
        case BindingKind::Structure: {
            const BindingMemberRange<true> members = value.Members();
            visitor.StartObject(members.size());
            stack.push_back({nullptr, 0, 0, members.begin(), members.end(), false, false});
            break;
        }
        default:
            visitor.Null();
            break;
        }
    };

    enter(root);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.isCollection) {
            if (frame.inChild) {
                visitor.EndElement(frame.index);
                ++frame.index;
                frame.inChild = false;
            }
            if (frame.index < frame.count) {
                frame.inChild = true;
                const std::size_t index = frame.index;
                const BindingProperty& element = frame.elements[index];
                visitor.BeginElement(index);
                enter(element); // may push: `frame` is not used afterwards
            } else {
                stack.pop_back();
                visitor.EndArray();
            }
            continue;
        }
        if (frame.inChild) {
            visitor.EndMember((*frame.member).name);
            ++frame.member;
            frame.inChild = false;
        }
        if (frame.member != frame.end) {
            frame.inChild = true;
            const auto member = *frame.member;
            visitor.Key(member.name);
            enter(member.value); // may push: `frame` is not used afterwards
        } else {
            stack.pop_back();
            visitor.EndObject();
        }
    }
}

} // namespace Korvel
