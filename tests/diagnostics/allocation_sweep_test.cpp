// Sweeps over every allocation an operation makes: the operation runs once for each of its
// allocations with that one refused, and once more with that one and every later one refused.
// Each run must end in a reported failure (or std::bad_alloc where the operation documents it),
// or in a success with all of its data; it must give back every counted byte and every page; and
// whatever value it leaves behind must still copy, write and destroy.

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_page_source.h"
#include "binding/binding_property.h"
#include "binding/binding_registry.h"
#include "binding/binding_result.h"
#include "binding/convert_to_property.h"
#include "binding/host_value_conversion.h"
#include "encoding/json_reader.h"
#include "encoding/json_writer.h"
#include "encoding/msgpack_decoder.h"
#include "encoding/yaml_reader.h"
#include "service_status/service_status_types.h"
#include "support/counted_allocations.h"
#include "support/host_values.h"
#include "support/live_memory.h"

namespace Korvel::Testing {
namespace {

using After = CountedAllocations::After;

// How one run ended.
enum class Outcome { Success, Failure, Threw };

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Success:
        return "success";
    case Outcome::Failure:
        return "failure";
    case Outcome::Threw:
        return "bad_alloc";
    }
    return "";
}

// Which allocations a run refuses, and what the hooks saw while it ran.
struct Plan {
    std::size_t refuse = 0;
    After after = After::Allowed;
    std::size_t seen = 0;
    std::size_t refused = 0;
};

// The refusing hooks for the extent of one operation; they report to the plan when they go.
class Refusing {
public:
    explicit Refusing(Plan& plan) : plan_(plan), hooks_(plan.refuse, plan.after) {}
    ~Refusing() {
        plan_.seen = hooks_.Count();
        plan_.refused = hooks_.Refused();
    }
    Refusing(const Refusing&) = delete;
    Refusing& operator=(const Refusing&) = delete;

private:
    Plan& plan_;
    CountedAllocations hooks_;
};

// Counted bytes and pool pages in use when it is made. (Blocks are no measure here: the
// accounting counts a reallocation of a null block as one block freed.)
struct MemoryInUse {
    std::uint64_t bytes = LiveBytes();
    std::size_t pages = BindingPageSource::Instance().PagesInUse();

    void ExpectAllBack() const {
        EXPECT_EQ(LiveBytes(), bytes);
        EXPECT_EQ(BindingPageSource::Instance().PagesInUse(), pages);
    }
};

// A value left behind by a run still copies, compares, writes and is destroyed.
void ExpectUsable(const BindingProperty& value) {
    const BindingProperty copy(value);
    EXPECT_TRUE(copy == value);
    const std::string text = WriteJson(copy);
    const BindingResult back = ReadJson(text);
    EXPECT_TRUE(back.IsSuccess()) << text;
}

// A failed result is usable. With one allocation refused it also says that memory ran out;
// with every later one refused as well even the message may be missing.
void ExpectReportedFailure(const Plan& plan, const BindingResult& result) {
    EXPECT_FALSE(result.IsSuccess());
    ExpectUsable(result.value);
    if (plan.after == After::Allowed) {
        EXPECT_NE(result.GetError().find("memory"), std::string::npos) << result.GetError();
    }
}

// Runs `attempt` (Outcome(Plan&), which refuses through a Refusing object around the operation
// alone) without refusals to learn the number of allocations, then once per allocation in both
// modes. `allowed` lists the outcomes the operation may have.
template <typename Attempt>
void Sweep(Attempt attempt, std::vector<Outcome> allowed) {
    // A first run fills caches that live beyond it; the second one counts.
    Plan warm;
    ASSERT_EQ(attempt(warm), Outcome::Success);
    Plan counting;
    ASSERT_EQ(attempt(counting), Outcome::Success);
    const std::size_t total = counting.seen;
    ASSERT_GT(total, 0u);
    for (const After after : {After::Allowed, After::Refused}) {
        for (std::size_t refuse = 1; refuse <= total; ++refuse) {
            SCOPED_TRACE(testing::Message()
                         << "allocation " << refuse << " of " << total << " refused"
                         << (after == After::Refused ? ", and every later one" : ""));
            const MemoryInUse before;
            Plan plan{refuse, after};
            const Outcome outcome = attempt(plan);
            EXPECT_GE(plan.refused, 1u);
            bool expected = false;
            for (const Outcome one : allowed) {
                expected = expected || one == outcome;
            }
            EXPECT_TRUE(expected) << OutcomeName(outcome);
            before.ExpectAllBack();
        }
    }
}

// Runs `operation` under the plan's refusals; a std::bad_alloc it throws becomes Outcome::Threw.
template <typename Operation>
bool RunRefusing(Plan& plan, Operation operation) {
    try {
        const Refusing refusing(plan);
        operation();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Nested objects and arrays, and keys that repeat: objects merge, arrays append, scalars replace.
constexpr const char* kJsonDocument =
    R"({"b":{"x":[1,2,{"deep":"a longer text that needs its own block"}],"y":true},)"
    R"("b":{"z":-3,"x":[4.5]},"list":[1,"one"],"list":[null,"two"],"name":"first",)"
    R"("name":"second","empty":{},"none":[]})";

BindingResult ExpectedJson() {
    BindingResult expected = ReadJson(kJsonDocument);
    EXPECT_TRUE(expected.IsSuccess());
    EXPECT_EQ(std::as_const(expected.value).Member("b").Member("x").Size(), 4u);
    EXPECT_EQ(std::as_const(expected.value).Member("list").Size(), 4u);
    EXPECT_EQ(std::as_const(expected.value).Member("name").GetString(), "second");
    return expected;
}

// A decoder's result: a success holds the whole document, a failure is reported as one.
Outcome Judge(const Plan& plan, bool completed, const BindingResult& result,
              const BindingProperty& expected) {
    if (!completed) {
        return Outcome::Threw;
    }
    if (result.IsSuccess()) {
        EXPECT_TRUE(result.value == expected) << WriteJson(result.value);
        return Outcome::Success;
    }
    ExpectReportedFailure(plan, result);
    return Outcome::Failure;
}

TEST(AllocationSweep, ReadJson) {
    const BindingResult expected = ExpectedJson();
    Sweep(
        [&](Plan& plan) {
            BindingResult result;
            const bool completed =
                RunRefusing(plan, [&] { result = ReadJson(std::string_view(kJsonDocument)); });
            return Judge(plan, completed, result, expected.value);
        },
        {Outcome::Success, Outcome::Failure});
}

// Enough distinct texts to grow the tree's table of shared texts, and elements enough to grow a
// collection, several times over.
TEST(AllocationSweep, ReadJsonGrowingItsTables) {
    std::string text = "{";
    for (int i = 0; i < 40; ++i) {
        text += "\"key" + std::to_string(i) + "\":\"value number " + std::to_string(i) + "\",";
    }
    text += "\"list\":[";
    for (int i = 0; i < 100; ++i) {
        text += (i == 0 ? "\"" : ",\"") + std::string(static_cast<std::size_t>(i % 7) * 10, 'x') +
                std::to_string(i) + "\"";
    }
    text += "]}";
    const BindingResult expected = ReadJson(text);
    ASSERT_TRUE(expected.IsSuccess()) << expected.GetError();
    ASSERT_EQ(std::as_const(expected.value).Member("list").Size(), 100u);
    Sweep(
        [&](Plan& plan) {
            BindingResult result;
            const bool completed = RunRefusing(plan, [&] { result = ReadJson(text); });
            return Judge(plan, completed, result, expected.value);
        },
        {Outcome::Success, Outcome::Failure});
}

TEST(AllocationSweep, WriteJson) {
    const BindingResult source = ExpectedJson();
    const std::string compact = WriteJson(source.value);
    const std::string pretty = WriteJson(source.value, nullptr, "\n");
    ASSERT_GT(pretty.size(), compact.size());
    for (const char* separator : {static_cast<const char*>(nullptr), "\n"}) {
        const std::string& expected = separator == nullptr ? compact : pretty;
        Sweep(
            [&](Plan& plan) {
                std::string text;
                if (!RunRefusing(plan,
                                 [&] { text = WriteJson(source.value, nullptr, separator); })) {
                    return Outcome::Threw;
                }
                EXPECT_EQ(text, expected);
                return Outcome::Success;
            },
            {Outcome::Success, Outcome::Threw}); // the writer documents std::bad_alloc
    }
}

TEST(AllocationSweep, DecodeMessagePack) {
    // {"a": {"b": [1, "xy"]}, "a": {"c": true}, "name": "hello", "s": bin [1, 2, 3]}
    const std::vector<std::uint8_t> bytes = {0x84, 0xA1, 'a',  0x81, 0xA1, 'b',  0x92, 0x01, 0xA2,
                                             'x',  'y',  0xA1, 'a',  0x81, 0xA1, 'c',  0xC3, 0xA4,
                                             'n',  'a',  'm',  'e',  0xA5, 'h',  'e',  'l',  'l',
                                             'o',  0xA1, 's',  0xC4, 0x03, 0x01, 0x02, 0x03};
    std::size_t used = 0;
    const BindingResult expected = DecodeMessagePack(bytes, used);
    ASSERT_TRUE(expected.IsSuccess()) << expected.GetError();
    ASSERT_EQ(used, bytes.size());
    ASSERT_EQ(std::as_const(expected.value).Member("a").Size(), 2u);
    Sweep(
        [&](Plan& plan) {
            BindingResult result;
            std::size_t stopped = 0;
            const bool completed =
                RunRefusing(plan, [&] { result = DecodeMessagePack(bytes, stopped); });
            return Judge(plan, completed, result, expected.value);
        },
        {Outcome::Success, Outcome::Failure});
}

TEST(AllocationSweep, ReadYamlWithAnAlias) {
    const std::string text = "base: &b\n"
                             "  name: one\n"
                             "  list: [1, 2, three]\n"
                             "copy: *b\n"
                             "more:\n"
                             "  - *b\n"
                             "  - plain text\n";
    const BindingResult expected = ReadYaml(text);
    ASSERT_TRUE(expected.IsSuccess()) << expected.GetError();
    ASSERT_TRUE(std::as_const(expected.value).Member("copy") ==
                std::as_const(expected.value).Member("base"));
    Sweep(
        [&](Plan& plan) {
            BindingResult result;
            const bool completed = RunRefusing(plan, [&] { result = ReadYaml(text); });
            return Judge(plan, completed, result, expected.value);
        },
        {Outcome::Success, Outcome::Failure});
}

// A tree of its own pool, to receive copies from another tree.
BindingProperty OtherTree() {
    BindingProperty tree;
    tree.Member("kept") = "a text of the receiving tree";
    tree.Member("slot").Append() = 7;
    tree.Member("slot").Append() = "old element";
    return tree;
}

TEST(AllocationSweep, CopyBetweenTrees) {
    const BindingResult source = ExpectedJson();
    // A new root.
    Sweep(
        [&](Plan& plan) {
            std::optional<BindingProperty> copy;
            if (!RunRefusing(plan, [&] { copy.emplace(source.value); })) {
                EXPECT_FALSE(copy.has_value());
                return Outcome::Threw;
            }
            // Compared once the refusals are over: a comparison that runs out of memory
            // answers false.
            EXPECT_TRUE(*copy == source.value);
            ExpectUsable(*copy);
            return Outcome::Success;
        },
        {Outcome::Success, Outcome::Threw});
    // Over a whole tree, and into a member, of another pool.
    for (const bool whole : {true, false}) {
        Sweep(
            [&](Plan& plan) {
                BindingProperty target = OtherTree();
                const BindingProperty& from =
                    whole ? source.value : std::as_const(source.value).Member("b");
                BindingProperty* place = nullptr;
                const bool completed = RunRefusing(plan, [&] {
                    place = whole ? &target : &target.Member("slot");
                    *place = from;
                });
                ExpectUsable(target);
                if (!completed) {
                    return Outcome::Threw;
                }
                EXPECT_TRUE(*place == from);
                EXPECT_EQ(std::as_const(target).Member("kept").GetString(),
                          whole ? "" : "a text of the receiving tree");
                return Outcome::Success;
            },
            {Outcome::Success, Outcome::Threw});
    }
}

TEST(AllocationSweep, FromHostValue) {
    HostValueArena arena;
    const HostValue source = arena.Build(Json::parse(
        R"({"name":"a text long enough for a block of its own","flag":true,"count":-12,)"
        R"("ratio":0.25,"items":[1,"two",{"three":3,"four":[4,4]}],"nested":{"x":{"y":"z"}}})"));
    BindingProperty expected;
    {
        HostValueResult error;
        ASSERT_TRUE(FromHostValue(error, expected, source, "<result>")) << error.Message();
    }
    Sweep(
        [&](Plan& plan) {
            HostValueResult error;
            BindingProperty target;
            bool converted = false;
            const bool completed = RunRefusing(
                plan, [&] { converted = FromHostValue(error, target, source, "<result>"); });
            ExpectUsable(target);
            if (!completed) {
                return Outcome::Threw;
            }
            if (converted) {
                EXPECT_FALSE(error.failed);
                EXPECT_TRUE(target == expected) << WriteJson(target);
                return Outcome::Success;
            }
            EXPECT_TRUE(error.failed);
            EXPECT_EQ(error.value.kind, 0u);
            if (plan.after == After::Allowed) {
                EXPECT_STREQ(error.Message(), "Couldn't assign value to '<result>' because there "
                                              "is not enough memory.");
            }
            return Outcome::Failure;
        },
        {Outcome::Success, Outcome::Failure});
}

TEST(AllocationSweep, ToHostValue) {
    const BindingResult source = ExpectedJson();
    HostValue built{};
    ToHostValue(built, source.value, nullptr);
    const Json expected = ReadHostValue(built);
    ReleaseHostValue(built);
    Sweep(
        [&](Plan& plan) {
            HostValue target{};
            const bool completed =
                RunRefusing(plan, [&] { ToHostValue(target, source.value, nullptr); });
            if (!completed) {
                // Released, as documented.
                EXPECT_EQ(target.kind, 0u);
                return Outcome::Threw;
            }
            EXPECT_EQ(ReadHostValue(target), expected);
            ReleaseHostValue(target);
            return Outcome::Success;
        },
        {Outcome::Success, Outcome::Threw}); // documented
}

class AllocationSweepOfRecords : public ::testing::Test {
protected:
    AllocationSweepOfRecords() { Client::ServiceStatus::RegisterServiceStatusTypes(registry); }

    BindingRegistry registry;
};

TEST_F(AllocationSweepOfRecords, ServiceStatusResourceToProperty) {
    using Client::ServiceStatus::Api::ServiceStatusResource;
    ServiceStatusResource record;
    record.status = ServiceStatusResource::Status::degraded;
    record.humanReadableUrl = "https://status.example.com/region/with/a/long/enough/path";
    BindingResult expected;
    ToProperty(expected, record, registry);
    ASSERT_TRUE(expected.IsSuccess()) << expected.GetError();
    ASSERT_EQ(expected.value.Size(), 2u);
    Sweep(
        [&](Plan& plan) {
            BindingResult result;
            const bool completed = RunRefusing(plan, [&] { ToProperty(result, record, registry); });
            return Judge(plan, completed, result, expected.value);
        },
        {Outcome::Success, Outcome::Failure});
    // Through the record's descriptor: a failure leaves the output alone.
    Sweep(
        [&](Plan& plan) {
            BindingProperty output(7);
            bool converted = false;
            const bool completed =
                RunRefusing(plan, [&] { converted = ConvertToProperty(record, output, registry); });
            if (!completed) {
                return Outcome::Threw;
            }
            if (converted) {
                EXPECT_TRUE(output == expected.value);
                return Outcome::Success;
            }
            EXPECT_EQ(output.GetSigned(), 7);
            return Outcome::Failure;
        },
        {Outcome::Success, Outcome::Failure});
}

TEST_F(AllocationSweepOfRecords, TickerMessagesToProperty) {
    using Client::ServiceStatus::Api::TickerMessage;
    std::vector<TickerMessage> messages(2);
    messages[0].severity = TickerMessage::Severity::warn;
    messages[0].heading = "Maintenance";
    messages[0].message = "The servers restart at noon; expect a few minutes without play.";
    messages[0].createdAt = "2026-01-01T10:00:00Z";
    messages[1].severity = TickerMessage::Severity::error;
    messages[1].heading = "Log-in trouble";
    messages[1].message = "Some players cannot log in.";
    messages[1].updatedAt = "2026-01-02T11:00:00Z";
    BindingResult property;
    ToProperty(property, messages, registry);
    ASSERT_TRUE(property.IsSuccess()) << property.GetError();
    ASSERT_EQ(property.value.Size(), 2u);

    Sweep(
        [&](Plan& plan) {
            BindingResult result;
            const bool completed =
                RunRefusing(plan, [&] { ToProperty(result, messages, registry); });
            return Judge(plan, completed, result, property.value);
        },
        {Outcome::Success, Outcome::Failure});
}

} // namespace
} // namespace Korvel::Testing
