#pragma once

// The conversion pair of one registered field. Registration (BindingTypeBuilder::AddField<T>)
// creates one BindingFieldConverterFor<T> per field, chosen by the field's native type T; the
// descriptor owns it. Its two operations forward to BindingFieldRules<T>, which holds the
// conversion rules of native type T (binding_field_rules.h).

#include <string_view>

#include "binding/binding_property.h"
#include "binding/binding_result.h"
#include "binding/binding_type_descriptor.h"

namespace Korvel {

class BindingRegistry;

class BindingFieldConverter {
public:
    // Assigns `input` to the native value at `destination`, reporting into `status` with
    // `fieldName` as the name in messages.
    virtual void FromProperty(BindingResult& status, void* destination,
                              const BindingProperty& input, std::string_view fieldName,
                              const BindingFieldDescriptor& field,
                              const BindingRegistry& registry) const = 0;
    // Builds the dynamic value of the native value at `source` into `output`.
    virtual void ToProperty(BindingResult& output, const void* source,
                            const BindingFieldDescriptor& field,
                            const BindingRegistry& registry) const = 0;
    virtual ~BindingFieldConverter() = default;

    // Builds the dynamic value of the native value at `source` directly into `target` (a member
    // of a record being converted), reporting a failure into `status` with SetError; does nothing
    // once `status` has failed. Same result as ToProperty into a fresh output moved into place,
    // without a separate tree (and pool) per field.
    virtual void ToPropertyInto(BindingResult& status, BindingProperty& target, const void* source,
                                const BindingFieldDescriptor& field,
                                const BindingRegistry& registry) const;
};

// The conversion rules of native type T: a class template with the two static operations
//     static void FromProperty(BindingResult& status, T& destination, const BindingProperty& input,
//                              std::string_view fieldName, const BindingFieldDescriptor& field,
//                              const BindingRegistry& registry);
//     static void ToProperty(BindingResult& output, const T& source,
//                            const BindingFieldDescriptor& field, const BindingRegistry& registry);
//     static void ToPropertyInto(BindingResult& status, BindingProperty& target, const T& source,
//                                const BindingFieldDescriptor& field,
//                                const BindingRegistry& registry);
template <typename T>
struct BindingFieldRules;

template <typename T>
class BindingFieldConverterFor final : public BindingFieldConverter {
public:
    void FromProperty(BindingResult& status, void* destination, const BindingProperty& input,
                      std::string_view fieldName, const BindingFieldDescriptor& field,
                      const BindingRegistry& registry) const override {
        BindingFieldRules<T>::FromProperty(status, *static_cast<T*>(destination), input, fieldName,
                                           field, registry);
    }
    void ToProperty(BindingResult& output, const void* source, const BindingFieldDescriptor& field,
                    const BindingRegistry& registry) const override {
        BindingFieldRules<T>::ToProperty(output, *static_cast<const T*>(source), field, registry);
    }
    void ToPropertyInto(BindingResult& status, BindingProperty& target, const void* source,
                        const BindingFieldDescriptor& field,
                        const BindingRegistry& registry) const override {
        BindingFieldRules<T>::ToPropertyInto(status, target, *static_cast<const T*>(source), field,
                                             registry);
    }
};

} // namespace Korvel
