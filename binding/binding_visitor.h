#pragma once

// The walk over a value tree that every writer uses: BindingProperty::Accept calls these in
// document order. Collections: StartArray(count), then BeginElement(i), the element,
// EndElement(i) for each index, then EndArray(). Structures: StartObject(count), then Key(name),
// the member, EndMember(name) for each member in name order, then EndObject().
// The walk keeps its own stack, so deep trees do not exhaust the machine stack.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding/binding_property.h"

namespace Korvel {

class BindingVisitor {
public:
    virtual void Null() = 0;
    virtual void Bool(bool value) = 0;
    virtual void Int64(std::int64_t value) = 0;
    virtual void Uint64(std::uint64_t value) = 0;
    virtual void Double(double value) = 0;
    virtual void String(std::string_view text) = 0;
    virtual void Blob(std::span<const std::uint8_t> bytes) = 0;
    virtual void Enum(const BindingEnumRecord& value) = 0;
    virtual void StartArray(std::size_t count) = 0;
    virtual void BeginElement(std::size_t index) = 0;
    virtual void EndElement(std::size_t index) = 0;
    virtual void EndArray() = 0;
    virtual void StartObject(std::size_t count) = 0;
    virtual void Key(std::string_view name) = 0;
    virtual void EndMember(std::string_view name) = 0;
    virtual void EndObject() = 0;
    virtual ~BindingVisitor() = default;
};

} // namespace Korvel
