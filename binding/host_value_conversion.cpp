#include "binding/host_value_conversion.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/conversion_messages.h"
#include "diagnostics/allocation.h"
#include "diagnostics/format_message.h"
#include "encoding/decode_limits.h"

namespace Korvel {

namespace {

// --- Host values to binding values ---------------------------------------------------------

// The name of a kind code in messages; the empty text for codes outside 1 to 10.
const char* HostKindName(uint32_t kind) {
    switch (static_cast<HostValueKind>(kind)) {
    case HostValueKind::Bool:
        return "bool";
    case HostValueKind::Signed:
        return "signed";
    case HostValueKind::Unsigned:
        return "unsigned";
    case HostValueKind::Float:
        return "float";
    case HostValueKind::BorrowedText:
    case HostValueKind::OwnedText:
        return "string";
    case HostValueKind::BorrowedBytes:
    case HostValueKind::OwnedBytes:
        return "blob";
    case HostValueKind::Collection:
        return "collection";
    case HostValueKind::Structure:
        return "structure";
    case HostValueKind::Empty:
        break;
    }
    return "";
}

// The addresses a conversion has met: an open-addressing table, so that noting one costs no
// allocation of its own (host values hold many small arrays).
class AddressSet {
public:
    // True when the address was not in the set before.
    bool Insert(const void* address) {
        if ((count_ + 1) * 2 > slots_.size()) {
            Grow();
        }
        if (Place(slots_, address)) {
            ++count_;
            return true;
        }
        return false;
    }

private:
    static bool Place(std::vector<const void*>& slots, const void* address) noexcept {
        const std::size_t mask = slots.size() - 1;
        // Multiplying spreads every bit of the address into the high half of the product, which
        // is folded into the low bits that pick the slot.
        const std::uint64_t product =
            static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(address)) *
            0x9E3779B97F4A7C15ull;
        std::size_t i = static_cast<std::size_t>(product ^ (product >> 32)) & mask;
        while (slots[i] != nullptr) {
            if (slots[i] == address) {
                return false;
            }
            i = (i + 1) & mask;
        }
        slots[i] = address;
        return true;
    }

    void Grow() {
        std::vector<const void*> larger(slots_.empty() ? 64 : slots_.size() * 2, nullptr);
        for (const void* address : slots_) {
            if (address != nullptr) {
                Place(larger, address);
            }
        }
        slots_.swap(larger);
    }

    std::vector<const void*> slots_;
    std::size_t count_ = 0;
};

// A collection or structure of the source whose entries are being converted.
struct FromFrame {
    const HostValue* source;
    BindingProperty* target;
    uint32_t next;
    uint32_t count;
    bool isStructure;
    // The array was entered before (or lies inside one that was): its entries are copies.
    bool shared;
};

class FromHostConverter {
public:
    FromHostConverter(HostValueResult& error, std::string_view name) : error_(error), name_(name) {}

    bool Run(BindingProperty& target, const HostValue& source) {
        if (!Start(target, source, false)) {
            return false;
        }
        while (!stack_.empty()) {
            FromFrame& frame = stack_.back();
            if (frame.next == frame.count) {
                stack_.pop_back();
                continue;
            }
            const uint32_t index = frame.next++;
            ++nodes_;
            const bool shared = frame.shared;
            if (shared && ++sharedNodes_ > DecodeLimits::kMaxSharedCopiedNodes) {
                return Fail(FormatMessage("Couldn't assign value to '%1' because the input's "
                                          "shared parts expand to more than %2 values.",
                                          name_, DecodeLimits::kMaxSharedCopiedNodes));
            }
            if (!frame.isStructure) {
                // Room for every element was reserved when the collection started, so the
                // references of the frames below stay where they are.
                const HostValue& element = frame.source->payload.collection.items[index];
                if (!Start(frame.target->Element(index), element, shared)) {
                    return false;
                }
                continue;
            }
            const HostValueMember& member = frame.source->payload.structure.members[index];
            if (member.name == nullptr) {
                return Fail(FormatMessage("Couldn't assign value to '%1' because a member of the "
                                          "input structure has no name.",
                                          name_));
            }
            if (shared && !CountSharedBytes(std::strlen(member.name))) {
                return false;
            }
            // Write access: a name that repeats addresses the member converted before, and the
            // later entry replaces it.
            if (!Start(frame.target->Member(std::string_view(member.name)), member.value, shared)) {
                return false;
            }
        }
        return true;
    }

private:
    // Converts a scalar at once; makes a container the target's kind and queues its entries.
    // `shared` tells that the source lies inside an array that was entered before.
    bool Start(BindingProperty& target, const HostValue& source, bool shared) {
        target.Clear();
        const uint32_t kind = source.kind;
        switch (static_cast<HostValueKind>(kind)) {
        case HostValueKind::Empty:
            return true;
        case HostValueKind::Bool:
            target.SetBool(source.payload.boolean != 0);
            return true;
        case HostValueKind::Signed:
            target.SetSigned(source.payload.signedValue);
            return true;
        case HostValueKind::Unsigned:
            target.SetUnsigned(source.payload.unsignedValue);
            return true;
        case HostValueKind::Float:
            target.SetFloat(source.payload.floatValue);
            return true;
        case HostValueKind::BorrowedText:
        case HostValueKind::OwnedText:
            return Text(target, source) && (!shared || CountSharedBytes(target.Size()));
        case HostValueKind::BorrowedBytes:
        case HostValueKind::OwnedBytes: {
            const uint8_t* data = source.payload.bytes.data;
            const uint32_t length = source.payload.bytes.length;
            if (data == nullptr && length != 0) {
                return MissingData(kind, length);
            }
            // A block copied before is copied again only within the budget.
            const bool copiedBefore = length != 0 && !blocks_.Insert(data);
            if ((shared || copiedBefore) && !CountSharedBytes(length)) {
                return false;
            }
            target.SetBlob(std::span<const uint8_t>(data, data != nullptr ? length : 0));
            return true;
        }
        case HostValueKind::Collection:
            return StartCollection(target, source, shared);
        case HostValueKind::Structure:
            return StartStructure(target, source, shared);
        }
        return Fail(FormatMessage("Couldn't assign value to '%1' of type object because the input "
                                  "is of an incompatible type '%2'.",
                                  name_, HostKindName(kind)));
    }

    // The text up to its terminator. Host texts are NUL-terminated; the stated length is not
    // used, so a host that leaves it unset still gets its texts through.
    bool Text(BindingProperty& target, const HostValue& source) {
        const char* data = source.payload.text.data;
        if (data == nullptr) {
            const uint32_t length = source.payload.text.length;
            if (length != 0) {
                return MissingData(source.kind, length);
            }
            target.SetString(std::string_view());
            return true;
        }
        target.SetString(data);
        return true;
    }

    bool StartCollection(BindingProperty& target, const HostValue& source, bool shared) {
        const HostValue* items = source.payload.collection.items;
        const uint32_t count = source.payload.collection.count;
        if (items == nullptr && count != 0) {
            return MissingData(source.kind, count);
        }
        if (!CheckDepth()) {
            return false;
        }
        target.MakeCollection();
        if (count > BindingProperty::kMaxElements || !target.Reserve(count)) {
            return Fail(FormatMessage("Couldn't assign value to '%1' because the input collection "
                                      "of %2 elements is too large.",
                                      name_, count));
        }
        if (count != 0) {
            stack_.push_back(FromFrame{&source, &target, 0, count, false, Entered(items, shared)});
        }
        return true;
    }

    bool StartStructure(BindingProperty& target, const HostValue& source, bool shared) {
        const HostValueMember* members = source.payload.structure.members;
        const uint32_t count = source.payload.structure.count;
        if (members == nullptr && count != 0) {
            return MissingData(source.kind, count);
        }
        if (!CheckDepth()) {
            return false;
        }
        target.MakeStructure();
        if (count != 0) {
            stack_.push_back(FromFrame{&source, &target, 0, count, true, Entered(members, shared)});
        }
        return true;
    }

    // Notes an array as entered; true when its entries are copies (the array was entered before,
    // or the frame lies inside such an array). Arrays are noted only once the value has shown
    // itself large: the values a host usually passes pay nothing for the check, and the copies
    // made before it starts are bounded by kTrackArraysAfter.
    bool Entered(const void* array, bool shared) {
        if (shared || nodes_ < kTrackArraysAfter) {
            return shared;
        }
        return !arrays_.Insert(array);
    }

    bool CountSharedBytes(std::size_t bytes) {
        sharedBytes_ += bytes;
        if (sharedBytes_ <= DecodeLimits::kMaxSharedCopiedBytes) {
            return true;
        }
        return Fail(FormatMessage("Couldn't assign value to '%1' because the input's shared "
                                  "parts expand to more than %2 bytes.",
                                  name_, DecodeLimits::kMaxSharedCopiedBytes));
    }

    bool CheckDepth() {
        if (stack_.size() < DecodeLimits::kMaxNestingDepth) {
            return true;
        }
        return Fail(FormatMessage("Couldn't assign value to '%1' because the input is nested "
                                  "deeper than %2 levels.",
                                  name_, static_cast<uint32_t>(DecodeLimits::kMaxNestingDepth)));
    }

    bool MissingData(uint32_t kind, uint32_t length) {
        return Fail(FormatMessage("Couldn't assign value to '%1' because the input %2 of length "
                                  "%3 has no data.",
                                  name_, HostKindName(kind), length));
    }

    bool Fail(const std::string& message) {
        error_.Reset();
        error_.message = DuplicateText(message.c_str());
        error_.failed = true;
        return false;
    }

    HostValueResult& error_;
    std::string_view name_;
    std::vector<FromFrame> stack_;
    // Arrays entered and byte blocks copied so far, and what copies of them have cost: entries
    // that point at one array or block are each converted in full, so a small host value could
    // otherwise describe an enormous tree.
    AddressSet arrays_;
    AddressSet blocks_;
    std::uint64_t sharedNodes_ = 0;
    // Entries converted so far, and how many pass before arrays are noted.
    std::uint64_t nodes_ = 0;
    static constexpr std::uint64_t kTrackArraysAfter = std::uint64_t{1} << 20;
    std::uint64_t sharedBytes_ = 0;
};

// --- Binding values to host values ---------------------------------------------------------

// A copy of a NUL-terminated text through the library's text-duplication entry, the one the host
// expects texts of a host value to come from. The value tree's texts and member names, and
// enumerator names, never hold a zero byte before their terminator.
char* CopyText(const char* text) {
    char* copy = DuplicateText(text);
    if (copy == nullptr) {
        throw std::bad_alloc();
    }
    return copy;
}

// A zero-filled array of `count` records of `size` bytes; null for none.
void* AllocateZeroed(std::size_t count, std::size_t size) {
    if (count == 0) {
        return nullptr;
    }
    if (count > std::numeric_limits<uint32_t>::max() ||
        count > std::numeric_limits<std::size_t>::max() / size) {
        throw std::bad_alloc();
    }
    void* block = Allocate(count * size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    std::memset(block, 0, count * size);
    return block;
}

// A collection or structure of the source whose entries are being converted.
struct ToFrame {
    const BindingProperty* source;
    HostValue* target;
    std::size_t next;
    BindingMemberRange<true>::Iterator member;
};

class ToHostConverter {
public:
    explicit ToHostConverter(const BindingRegistry* registry) : registry_(registry) {}

    void Run(HostValue& target, const BindingProperty& source) {
        Start(target, source);
        while (!stack_.empty()) {
            // Start may push a frame, so the frame is found again by index after it.
            const std::size_t top = stack_.size() - 1;
            ToFrame& frame = stack_[top];
            if (frame.target->kind == static_cast<uint32_t>(HostValueKind::Collection)) {
                const uint32_t count = frame.target->payload.collection.count;
                if (frame.next == count) {
                    stack_.pop_back();
                    continue;
                }
                const std::size_t index = frame.next++;
                Start(frame.target->payload.collection.items[index],
                      frame.source->Elements()[index]);
                continue;
            }
            const uint32_t count = frame.target->payload.structure.count;
            if (frame.next == count) {
                stack_.pop_back();
                continue;
            }
            HostValueMember& entry = frame.target->payload.structure.members[frame.next++];
            const BindingMemberView<true> member = *frame.member;
            ++frame.member;
            entry.name = CopyText(member.name.data());
            entry.ownsName = 1;
            Start(entry.value, member.value);
        }
    }

private:
    // The target is empty (zero-filled or released) when this runs.
    void Start(HostValue& target, const BindingProperty& source) {
        switch (source.Kind()) {
        case BindingKind::Empty:
            return;
        case BindingKind::Bool:
            target.kind = static_cast<uint32_t>(HostValueKind::Bool);
            target.payload.boolean = source.GetBool() ? 1 : 0;
            return;
        case BindingKind::Signed:
            target.kind = static_cast<uint32_t>(HostValueKind::Signed);
            target.payload.signedValue = source.GetSigned();
            return;
        case BindingKind::Unsigned:
            target.kind = static_cast<uint32_t>(HostValueKind::Unsigned);
            target.payload.unsignedValue = source.GetUnsigned();
            return;
        case BindingKind::Float:
            target.kind = static_cast<uint32_t>(HostValueKind::Float);
            target.payload.floatValue = source.GetFloat();
            return;
        case BindingKind::String:
            SetText(target, source.GetCString(), source.Size());
            return;
        case BindingKind::Blob: {
            const std::span<const uint8_t> bytes = source.GetBlob();
            if (bytes.size() > std::numeric_limits<uint32_t>::max()) {
                throw std::bad_alloc();
            }
            void* copy = nullptr;
            if (!bytes.empty()) {
                copy = Allocate(bytes.size());
                if (copy == nullptr) {
                    throw std::bad_alloc();
                }
                std::memcpy(copy, bytes.data(), bytes.size());
            }
            target.kind = static_cast<uint32_t>(HostValueKind::OwnedBytes);
            target.payload.bytes.data = static_cast<const uint8_t*>(copy);
            target.payload.bytes.length = static_cast<uint32_t>(bytes.size());
            return;
        }
        case BindingKind::Enum: {
            const BindingEnumRecord record = source.GetEnum();
            const char* name = registry_ != nullptr && record.type != nullptr
                                   ? registry_->EnumName(*record.type, record.value)
                                   : nullptr;
            if (name != nullptr) {
                SetText(target, name, std::strlen(name));
            } else {
                target.kind = static_cast<uint32_t>(HostValueKind::Signed);
                target.payload.signedValue = static_cast<int64_t>(record.value);
            }
            return;
        }
        case BindingKind::Collection: {
            const std::size_t count = source.Size();
            // Kind and count first: a release after a failed allocation below finds a
            // consistent record.
            auto* items = static_cast<HostValue*>(AllocateZeroed(count, sizeof(HostValue)));
            target.kind = static_cast<uint32_t>(HostValueKind::Collection);
            target.payload.collection.items = items;
            target.payload.collection.count = static_cast<uint32_t>(count);
            if (count != 0) {
                stack_.push_back(ToFrame{&source, &target, 0, {}});
            }
            return;
        }
        case BindingKind::Structure: {
            const BindingMemberRange<true> members = source.Members();
            const std::size_t count = members.size();
            auto* entries =
                static_cast<HostValueMember*>(AllocateZeroed(count, sizeof(HostValueMember)));
            target.kind = static_cast<uint32_t>(HostValueKind::Structure);
            target.payload.structure.members = entries;
            target.payload.structure.count = static_cast<uint32_t>(count);
            if (count != 0) {
                stack_.push_back(ToFrame{&source, &target, 0, members.begin()});
            }
            return;
        }
        }
    }

    static void SetText(HostValue& target, const char* text, std::size_t length) {
        if (length > std::numeric_limits<uint32_t>::max()) {
            throw std::bad_alloc();
        }
        target.kind = static_cast<uint32_t>(HostValueKind::OwnedText);
        target.payload.text.data = CopyText(text);
        target.payload.text.length = static_cast<uint32_t>(length);
    }

    const BindingRegistry* registry_;
    std::vector<ToFrame> stack_;
};

// --- Release -------------------------------------------------------------------------------

void ClearRecord(HostValue& record) noexcept {
    std::memset(&record, 0, sizeof(record));
}

// Frees what the record owns directly; a collection's or structure's array is kept for the
// caller, who releases its entries first.
void FreeOwnedPayload(const HostValue& record) noexcept {
    switch (static_cast<HostValueKind>(record.kind)) {
    case HostValueKind::OwnedText:
        Free(const_cast<char*>(record.payload.text.data));
        break;
    case HostValueKind::OwnedBytes:
        Free(const_cast<uint8_t*>(record.payload.bytes.data));
        break;
    default:
        break;
    }
}

// Frees an entry's text or bytes at once; queues a container entry for the release loop.
void QueueOrFree(std::vector<HostValue>& pending, const HostValue& entry) noexcept {
    const auto kind = static_cast<HostValueKind>(entry.kind);
    if (kind != HostValueKind::Collection && kind != HostValueKind::Structure) {
        FreeOwnedPayload(entry);
        return;
    }
    try {
        pending.push_back(entry);
    } catch (...) {
    }
}

} // namespace

HostValueResult::HostValueResult() noexcept : value(MakeEmptyHostValue()) {}

HostValueResult::~HostValueResult() {
    Reset();
}

void HostValueResult::Reset() noexcept {
    ReleaseHostValue(value);
    Free(message);
    message = nullptr;
    failed = false;
}

bool FromHostValue(HostValueResult& error, BindingProperty& target, const HostValue& source,
                   std::string_view name) {
    try {
        FromHostConverter converter(error, name);
        return converter.Run(target, source);
    } catch (const std::bad_alloc&) {
        // The target could not grow: it keeps what was converted, and the failure is reported
        // like any other (without its message when even that cannot be held).
        error.Reset();
        try {
            const std::string message = FormatMessage(ConversionMessages::kOutOfMemory, name);
            error.message = DuplicateText(message.c_str());
        } catch (const std::bad_alloc&) {
        }
        error.failed = true;
        return false;
    }
}

void ToHostValue(HostValue& target, const BindingProperty& source,
                 const BindingRegistry* registry) {
    ReleaseHostValue(target);
    try {
        ToHostConverter converter(registry);
        converter.Run(target, source);
    } catch (...) {
        ReleaseHostValue(target);
        throw;
    }
}

void ReleaseHostValue(HostValue& record) noexcept {
    // Containers are released without recursion: the entries of one container that are
    // containers themselves wait on a list of their own. Should that list fail to grow (memory
    // exhausted), the entry is left unreleased rather than ending the process.
    std::vector<HostValue> pending;
    HostValue current = record;
    ClearRecord(record);
    for (;;) {
        const auto kind = static_cast<HostValueKind>(current.kind);
        if (kind == HostValueKind::Collection) {
            HostValue* items = current.payload.collection.items;
            const uint32_t count = items != nullptr ? current.payload.collection.count : 0;
            for (uint32_t i = 0; i < count; ++i) {
                QueueOrFree(pending, items[i]);
            }
            Free(items);
        } else if (kind == HostValueKind::Structure) {
            HostValueMember* members = current.payload.structure.members;
            const uint32_t count = members != nullptr ? current.payload.structure.count : 0;
            for (uint32_t i = 0; i < count; ++i) {
                if (members[i].ownsName != 0) {
                    Free(const_cast<char*>(members[i].name));
                }
                QueueOrFree(pending, members[i].value);
            }
            Free(members);
        } else {
            FreeOwnedPayload(current);
        }
        if (pending.empty()) {
            break;
        }
        current = pending.back();
        pending.pop_back();
    }
}

} // namespace Korvel
