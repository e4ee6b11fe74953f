// The 32-bit layouts of the host records are fixed by static_asserts in their
// headers (compiled by the x86 build). Here every build checks that the
// layout it uses is self-consistent: fields in declaration order without
// overlap, packed records without gaps, and the sizes this word size gives.

#include "plugin/api_declaration.h"
#include "plugin/external_request_records.h"
#include "plugin/host_event_record.h"
#include "plugin/host_function_table.h"
#include "plugin/host_resource_records.h"
#include "plugin/host_value.h"
#include "plugin/plugin_api_descriptor.h"
#include "plugin/plugin_function_table.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace Korvel {
namespace {

struct Field {
    const char* name;
    size_t offset;
    size_t size;
};

#define KORVEL_FIELD(Type, member)                                                                 \
    Field {                                                                                        \
#member, offsetof(Type, member), sizeof(Type::member)                                      \
    }

constexpr size_t kPointer = sizeof(void*);

// Fields follow each other in order; a packed record has no gap anywhere and
// ends with its last field.
void ExpectLayout(const char* record, size_t size, const std::vector<Field>& fields, bool packed) {
    SCOPED_TRACE(record);
    size_t end = 0;
    for (const Field& field : fields) {
        SCOPED_TRACE(field.name);
        EXPECT_GE(field.offset, end) << "overlaps the field before";
        if (packed) {
            EXPECT_EQ(field.offset, end) << "gap in a packed record";
        }
        end = field.offset + field.size;
    }
    EXPECT_GE(size, end);
    if (packed) {
        EXPECT_EQ(size, end);
    }
}

TEST(AbiLayout, HostValueRecordsArePackedAroundTheValue) {
    // kind + payload of one pointer and a u32 length (at least 8 bytes).
    const size_t payload = kPointer + 4 > 8 ? kPointer + 4 : 8;
    EXPECT_EQ(sizeof(HostValue::Payload), payload);
    ExpectLayout("HostValue", sizeof(HostValue),
                 {KORVEL_FIELD(HostValue, kind), KORVEL_FIELD(HostValue, payload)}, true);
    EXPECT_EQ(sizeof(HostValue), 4 + payload);
    EXPECT_EQ(alignof(HostValue), 1u);
    ExpectLayout("HostValueMember", sizeof(HostValueMember),
                 {KORVEL_FIELD(HostValueMember, name), KORVEL_FIELD(HostValueMember, value),
                  KORVEL_FIELD(HostValueMember, ownsName)},
                 true);
    EXPECT_EQ(sizeof(HostValueMember), kPointer + sizeof(HostValue) + 1);

    // An array of members has no gaps between entries.
    HostValueMember members[2];
    EXPECT_EQ(reinterpret_cast<char*>(&members[1]) - reinterpret_cast<char*>(&members[0]),
              static_cast<std::ptrdiff_t>(sizeof(HostValueMember)));
}

TEST(AbiLayout, ResourceRecordsKeepTheirFieldOrder) {
    ExpectLayout("HostArgument", sizeof(HostArgument),
                 {KORVEL_FIELD(HostArgument, name), KORVEL_FIELD(HostArgument, value)}, false);
    ExpectLayout(
        "HostResourceRequest", sizeof(HostResourceRequest),
        {KORVEL_FIELD(HostResourceRequest, method), KORVEL_FIELD(HostResourceRequest, path),
         KORVEL_FIELD(HostResourceRequest, arguments),
         KORVEL_FIELD(HostResourceRequest, argumentCount),
         KORVEL_FIELD(HostResourceRequest, reserved0), KORVEL_FIELD(HostResourceRequest, pluginId),
         KORVEL_FIELD(HostResourceRequest, reserved1)},
        false);
    ExpectLayout(
        "HostResourceResponse", sizeof(HostResourceResponse),
        {KORVEL_FIELD(HostResourceResponse, body), KORVEL_FIELD(HostResourceResponse, error),
         KORVEL_FIELD(HostResourceResponse, reserved0),
         KORVEL_FIELD(HostResourceResponse, errorCode),
         KORVEL_FIELD(HostResourceResponse, reserved1), KORVEL_FIELD(HostResourceResponse, read),
         KORVEL_FIELD(HostResourceResponse, reserved2),
         KORVEL_FIELD(HostResourceResponse, sizeHint),
         KORVEL_FIELD(HostResourceResponse, reserved3),
         KORVEL_FIELD(HostResourceResponse, readContext),
         KORVEL_FIELD(HostResourceResponse, release)},
        true);
    // 62 bytes with 4-byte pointers: the value, five pointers, the code, the
    // size hint and 26 reserved bytes.
    EXPECT_EQ(sizeof(HostResourceResponse), sizeof(HostValue) + 4 * kPointer + 4 + 4 + 26);
}

TEST(AbiLayout, ExternalAndEventRecordsKeepTheirFieldOrder) {
    ExpectLayout("HostHeaderEntry", sizeof(HostHeaderEntry),
                 {KORVEL_FIELD(HostHeaderEntry, name), KORVEL_FIELD(HostHeaderEntry, value)}, true);
    ExpectLayout(
        "ExternalRequestRecord", sizeof(ExternalRequestRecord),
        {KORVEL_FIELD(ExternalRequestRecord, method), KORVEL_FIELD(ExternalRequestRecord, url),
         KORVEL_FIELD(ExternalRequestRecord, headers),
         KORVEL_FIELD(ExternalRequestRecord, headerCount),
         KORVEL_FIELD(ExternalRequestRecord, body), KORVEL_FIELD(ExternalRequestRecord, bodyLength),
         KORVEL_FIELD(ExternalRequestRecord, timeLimit), KORVEL_FIELD(ExternalRequestRecord, flag)},
        false);
    ExpectLayout("ExternalResponseRecord", sizeof(ExternalResponseRecord),
                 {KORVEL_FIELD(ExternalResponseRecord, transportCode),
                  KORVEL_FIELD(ExternalResponseRecord, status),
                  KORVEL_FIELD(ExternalResponseRecord, headers),
                  KORVEL_FIELD(ExternalResponseRecord, headerCount),
                  KORVEL_FIELD(ExternalResponseRecord, body),
                  KORVEL_FIELD(ExternalResponseRecord, bodyLength)},
                 false);
    ExpectLayout("HostEventRecord", sizeof(HostEventRecord),
                 {KORVEL_FIELD(HostEventRecord, name), KORVEL_FIELD(HostEventRecord, payload),
                  KORVEL_FIELD(HostEventRecord, flag), KORVEL_FIELD(HostEventRecord, userData)},
                 false);
    // The payload follows the name directly: the value has no alignment.
    EXPECT_EQ(offsetof(HostEventRecord, payload), kPointer);
}

TEST(AbiLayout, TablesAndDescriptorsArePointerArrays) {
    EXPECT_EQ(sizeof(HostFunctionTable), 10 * kPointer);
    EXPECT_EQ(offsetof(HostFunctionTable, log), 9 * kPointer);
    EXPECT_EQ(offsetof(HostFunctionTable, setTimer), 5 * kPointer);
    EXPECT_EQ(sizeof(PluginFunctionTable), 3 * kPointer);
    ExpectLayout("HostContext", sizeof(HostContext),
                 {KORVEL_FIELD(HostContext, functions), KORVEL_FIELD(HostContext, pluginId)},
                 false);
    ExpectLayout(
        "PluginMemoryStats", sizeof(PluginMemoryStats),
        {KORVEL_FIELD(PluginMemoryStats, peakBytes), KORVEL_FIELD(PluginMemoryStats, peakBlocks),
         KORVEL_FIELD(PluginMemoryStats, bytesAllocated),
         KORVEL_FIELD(PluginMemoryStats, blocksAllocated),
         KORVEL_FIELD(PluginMemoryStats, bytesFreed), KORVEL_FIELD(PluginMemoryStats, blocksFreed),
         KORVEL_FIELD(PluginMemoryStats, reserved)},
        true);
    ExpectLayout(
        "PluginApiDescriptor", sizeof(PluginApiDescriptor),
        {KORVEL_FIELD(PluginApiDescriptor, apiMajor), KORVEL_FIELD(PluginApiDescriptor, apiMinor),
         KORVEL_FIELD(PluginApiDescriptor, apiPatch),
         KORVEL_FIELD(PluginApiDescriptor, pluginFunctions),
         KORVEL_FIELD(PluginApiDescriptor, plugin), KORVEL_FIELD(PluginApiDescriptor, name),
         KORVEL_FIELD(PluginApiDescriptor, apiDeclaration)},
        false);
    ExpectLayout("ApiDeclaration", sizeof(ApiDeclaration),
                 {KORVEL_FIELD(ApiDeclaration, functions),
                  KORVEL_FIELD(ApiDeclaration, functionCount), KORVEL_FIELD(ApiDeclaration, types),
                  KORVEL_FIELD(ApiDeclaration, typeCount), KORVEL_FIELD(ApiDeclaration, events),
                  KORVEL_FIELD(ApiDeclaration, eventCount)},
                 false);
}

TEST(AbiLayout, SizesOfThisWordSize) {
    struct Expected {
        const char* record;
        size_t actual;
        size_t bits32;
        size_t bits64;
    };
    const Expected sizes[] = {
        {"HostValue", sizeof(HostValue), 12, 16},
        {"HostValueMember", sizeof(HostValueMember), 17, 25},
        {"HostEventRecord", sizeof(HostEventRecord), 24, 40},
        {"HostArgument", sizeof(HostArgument), 16, 24},
        {"HostResourceRequest", sizeof(HostResourceRequest), 48, 64},
        {"HostResourceResponse", sizeof(HostResourceResponse), 62, 82},
        {"HostHeaderEntry", sizeof(HostHeaderEntry), 8, 16},
        {"ExternalRequestRecord", sizeof(ExternalRequestRecord), 32, 56},
        {"ExternalResponseRecord", sizeof(ExternalResponseRecord), 24, 40},
        {"HostFunctionTable", sizeof(HostFunctionTable), 40, 80},
        {"HostContext", sizeof(HostContext), 8, 16},
        {"PluginFunctionTable", sizeof(PluginFunctionTable), 12, 24},
        {"PluginMemoryStats", sizeof(PluginMemoryStats), 56, 56},
        {"PluginApiDescriptor", sizeof(PluginApiDescriptor), 28, 48},
        {"ApiDeclaration", sizeof(ApiDeclaration), 24, 48},
    };
    for (const Expected& expected : sizes) {
        EXPECT_EQ(expected.actual, kPointer == 4 ? expected.bits32 : expected.bits64)
            << expected.record;
    }
}

} // namespace
} // namespace Korvel
