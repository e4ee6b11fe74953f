#include "binding/to_property.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "binding/binding_field_converter.h"
#include "binding/binding_registry.h"
#include "binding/record_depth_guard.h"
#include "diagnostics/format_message.h"
#include "encoding/decode_limits.h"

namespace Korvel {

namespace {

using namespace ConversionMessages;

// Record rules of ToProperty entered on this thread and not yet left (see RecordDepthGuard).
thread_local std::size_t recordDepth = 0;

std::int32_t LoadEnum(const void* storage, std::size_t size) noexcept {
    switch (size) {
    case 1: {
        std::int8_t value;
        std::memcpy(&value, storage, sizeof value);
        return value;
    }
    case 2: {
        std::int16_t value;
        std::memcpy(&value, storage, sizeof value);
        return value;
    }
    case 4: {
        std::int32_t value;
        std::memcpy(&value, storage, sizeof value);
        return value;
    }
    case 8: {
        std::int64_t value;
        std::memcpy(&value, storage, sizeof value);
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    default:
        return 0;
    }
}

} // namespace

namespace ToPropertyRules {

void Enum(BindingResult& status, BindingProperty& target, const void* storage, std::size_t size,
          std::string_view fieldName, const BindingTypeDescriptor* descriptor) {
    if (!status.IsSuccess()) {
        return;
    }
    if (descriptor == nullptr || !descriptor->isEnum || descriptor->identity == nullptr) {
        status.SetError(FormatMessage(kEnumNotRegisteredNative, fieldName));
        return;
    }
    target.SetEnum(LoadEnum(storage, size), *descriptor->identity);
}

void Struct(BindingResult& status, BindingProperty& target, const void* record,
            const BindingTypeDescriptor* descriptor, const BindingRegistry& registry) {
    if (!status.IsSuccess()) {
        return;
    }
    if (descriptor == nullptr || descriptor->isEnum) {
        status.SetError(kUnregisteredNative);
        return;
    }
    const RecordDepthGuard depth(recordDepth);
    if (depth.TooDeep()) {
        status.SetError(FormatMessage(kTooDeepNative, DecodeLimits::kMaxNestingDepth));
        return;
    }
    target.Clear();
    target.MakeStructure();
    const auto* base = static_cast<const unsigned char*>(record);
    for (const BindingFieldDescriptor& field : descriptor->fields) {
        if (field.converter == nullptr) {
            continue;
        }
        const bool mayBeLeftOut = field.OmitDefault() || field.optional;
        if (mayBeLeftOut && target.HasMember(field.name)) {
            // Two fields of one name: the later one replaces the earlier only when it is not left
            // out, so it is converted on its own first.
            BindingResult own;
            field.converter->ToProperty(own, base + field.offset, field, registry);
            if (!own.IsSuccess()) {
                status.SetError(own.GetError());
                return;
            }
            if (!(field.OmitDefault() && own.value.IsDefault()) &&
                !(field.optional && own.value.IsEmpty())) {
                target.Member(field.name).Take(own.value);
            }
            continue;
        }
        BindingProperty& member = target.Member(field.name);
        field.converter->ToPropertyInto(status, member, base + field.offset, field, registry);
        if (!status.IsSuccess()) {
            return; // `target` is gone: the status now holds the error
        }
        if ((field.OmitDefault() && member.IsDefault()) || (field.optional && member.IsEmpty())) {
            target.RemoveMember(field.name);
        }
    }
}

bool StartCollection(BindingResult& status, BindingProperty& target, std::size_t count,
                     std::string_view fieldName) {
    if (!status.IsSuccess()) {
        return false;
    }
    if (count > BindingProperty::kMaxElements) {
        status.SetError(FormatMessage(kTooManyElements, fieldName, BindingProperty::kMaxElements));
        return false;
    }
    target.Clear();
    target.MakeCollection();
    target.Reserve(count);
    return true;
}

} // namespace ToPropertyRules

void ToProperty(BindingResult& output, const void* record, const BindingTypeDescriptor* descriptor,
                const BindingRegistry& registry) {
    try {
        ToPropertyRules::Struct(output, output.value, record, descriptor, registry);
    } catch (const std::bad_alloc&) {
        FailOutOfMemory(output, "<value>");
    }
}

void FailOutOfMemory(BindingResult& output, std::string_view name) noexcept {
    try {
        output.SetError(FormatMessage(kOutOfMemory, name));
    } catch (const std::bad_alloc&) {
        output.value.Clear();
        output.success = false;
    }
}

} // namespace Korvel
