#include "remoting/resource_getter.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "encoding/json_writer.h"

namespace Korvel::ResourceGetterTesting {

struct Item {
    std::string name;
    std::int32_t count = 0;
};

} // namespace Korvel::ResourceGetterTesting

KORVEL_STATIC_TYPE(struct, Korvel::ResourceGetterTesting::Item)

namespace {

using namespace Korvel;
using ResourceGetterTesting::Item;

class Shelf {
public:
    Item First() const {
        ++calls;
        return items.empty() ? Item{} : items.front();
    }
    std::vector<Item> All() const {
        ++calls;
        return items;
    }

    std::vector<Item> items;
    mutable int calls = 0;
};

class ResourceGetter : public ::testing::Test {
protected:
    ResourceGetter() {
        BindingTypeBuilder item = registry.RegisterStruct<Item>("Item");
        KORVEL_BINDING_FIELD(item, Item, name, "name", "", 0);
        KORVEL_BINDING_FIELD(item, Item, count, "count", "", 0);
    }

    std::string Invoke(const char* function) {
        const BindingFunctionDescriptor* descriptor = registry.FindFunction(function);
        EXPECT_NE(descriptor, nullptr) << function;
        if (descriptor == nullptr) {
            return "";
        }
        const auto* invoker = dynamic_cast<const ResourceGetterInvoker*>(descriptor->invoker.get());
        EXPECT_NE(invoker, nullptr);
        BindingResult result;
        invoker->Invoke(result, registry);
        EXPECT_TRUE(result.IsSuccess()) << result.GetError();
        return WriteJson(result.value, &registry);
    }

    BindingRegistry registry;
    Shelf shelf;
    const std::vector<std::string> tags{"Plugins", "Plugin shelf"};
};

TEST_F(ResourceGetter, RegistersAGetFunctionNamedAfterThePath) {
    ASSERT_FALSE(
        RegisterResourceGetter(registry, "/shelf/v1/all-items/", &shelf, &Shelf::All, tags).failed);
    ASSERT_FALSE(
        RegisterResourceGetter(registry, "/shelf/v1/first-item", &shelf, &Shelf::First, tags)
            .failed);

    const BindingFunctionDescriptor* all = registry.FindFunction("GetShelfV1AllItems");
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->path, "/shelf/v1/all-items");
    EXPECT_EQ(all->method, 2u);
    EXPECT_TRUE(all->methodText.empty());
    EXPECT_TRUE(all->parameters.empty());
    EXPECT_EQ(all->tags, tags);
    EXPECT_EQ(all->returns.kind, FieldKind::Vector);
    EXPECT_EQ(all->returns.elementKind, FieldKind::Struct);
    EXPECT_EQ(all->returns.descriptor, registry.FindTypeByName("Item"));

    const BindingFunctionDescriptor* first = registry.FindFunction("GetShelfV1FirstItem");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->returns.kind, FieldKind::Struct);
    EXPECT_EQ(first->returns.descriptor, registry.FindTypeByName("Item"));
}

TEST_F(ResourceGetter, InvokingAnswersWithTheCurrentValue) {
    RegisterResourceGetter(registry, "/shelf/v1/all-items", &shelf, &Shelf::All, tags);
    EXPECT_EQ(Invoke("GetShelfV1AllItems"), "[]");
    shelf.items = {{"a", 1}, {"b", 2}};
    EXPECT_EQ(Invoke("GetShelfV1AllItems"), R"([{"count":1,"name":"a"},{"count":2,"name":"b"}])");
    EXPECT_EQ(shelf.calls, 2);
}

TEST_F(ResourceGetter, SecondRegistrationLeavesTheFirstUnchanged) {
    RegisterResourceGetter(registry, "/shelf/v1/all-items", &shelf, &Shelf::All, tags);
    Shelf other;
    other.items = {{"x", 9}};
    EXPECT_FALSE(
        RegisterResourceGetter(registry, "/shelf/v1/all-items", &other, &Shelf::All, {"T"}).failed);
    EXPECT_EQ(registry.FindFunction("GetShelfV1AllItems")->tags, tags);
    EXPECT_EQ(Invoke("GetShelfV1AllItems"), "[]");
    EXPECT_EQ(registry.SnapshotFunctions().size(), 1u);
}

TEST_F(ResourceGetter, MalformedPathsRegisterNothing) {
    for (const char* path : {"/shelf/a}b", "/shelf/{a{b}"}) {
        const OperationResult result =
            RegisterResourceGetter(registry, path, &shelf, &Shelf::All, tags);
        EXPECT_TRUE(result.failed) << path;
        EXPECT_NE(result.message.Text(), nullptr);
    }
    EXPECT_TRUE(registry.SnapshotFunctions().empty());
}

} // namespace
