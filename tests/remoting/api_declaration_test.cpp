#include "remoting/api_declaration_builder.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_registry.h"
#include "remoting/argument_location.h"
#include "remoting/builtin_types.h"
#include "remoting/function_route.h"

namespace Korvel::Client::DeclarationTest {

enum class Colour : std::int32_t { Red = 1, Green = 2 };

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

struct Shape {
    std::string name;
    Colour colour = Colour::Red;
    std::vector<Point> points;
    std::unordered_map<std::string, Point> anchors;
    std::optional<double> weight;
    std::vector<std::int32_t> sizes;
};

} // namespace Korvel::Client::DeclarationTest

KORVEL_STATIC_TYPE(enum, Korvel::Client::DeclarationTest::Colour)
KORVEL_STATIC_TYPE(struct, Korvel::Client::DeclarationTest::Point)
KORVEL_STATIC_TYPE(struct, Korvel::Client::DeclarationTest::Shape)

namespace Korvel {
namespace {

using namespace Client::DeclarationTest;

void KORVEL_CDECL TestEntryPoint(HostFunctionResponse*, const HostFunctionRequest*) {}

// Walks a chained array and checks that the chain visits exactly the array's entries in order.
template <typename Entry>
void ExpectChained(const Entry* entries, std::uint32_t count) {
    if (count == 0) {
        EXPECT_EQ(entries, nullptr);
        return;
    }
    ASSERT_NE(entries, nullptr);
    const Entry* at = entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        ASSERT_EQ(at, &entries[i]) << "entry " << i;
        at = at->next;
    }
    EXPECT_EQ(at, nullptr);
}

std::vector<std::string> Texts(const char* const* texts, std::uint32_t count) {
    std::vector<std::string> out;
    for (std::uint32_t i = 0; i < count; ++i) {
        out.emplace_back(texts[i]);
    }
    return out;
}

const ApiTypeEntry* FindType(const ApiDeclaration& declaration, std::string_view name) {
    for (std::uint32_t i = 0; i < declaration.typeCount; ++i) {
        if (name == declaration.types[i].name) {
            return &declaration.types[i];
        }
    }
    return nullptr;
}

const ApiFunctionEntry* FindFunction(const ApiDeclaration& declaration, std::string_view name) {
    for (std::uint32_t i = 0; i < declaration.functionCount; ++i) {
        if (name == declaration.functions[i].name) {
            return &declaration.functions[i];
        }
    }
    return nullptr;
}

class ApiDeclarationTest : public ::testing::Test {
protected:
    ApiDeclarationTest() {
        registry_.Reinitialise();
        registry_.RegisterEnum<Colour>("Colour")
            .SetDescription("A colour.")
            .AddTag("test")
            .AddValue("Red", 1, "Warm")
            .AddValue("Green", 2);
        auto point = registry_.RegisterStruct<Point>("Point");
        KORVEL_BINDING_FIELD(point, Point, x, "x", "Across", 0);
        KORVEL_BINDING_FIELD(point, Point, y, "y", "", 0);
        auto shape = registry_.RegisterStruct<Shape>("Shape");
        shape.SetNameSpace("Korvel::Test").AddTags({"test", "shapes"});
        KORVEL_BINDING_FIELD(shape, Shape, name, "name", "", 0);
        KORVEL_BINDING_FIELD(shape, Shape, colour, "colour", "", 0);
        KORVEL_BINDING_FIELD(shape, Shape, points, "points", "", 0);
        KORVEL_BINDING_FIELD(shape, Shape, anchors, "anchors", "", 0);
        KORVEL_BINDING_FIELD(shape, Shape, weight, "weight", "", 0);
        KORVEL_BINDING_FIELD(shape, Shape, sizes, "sizes", "", 0);
        registry_.RegisterEvent("OnShape", registry_.FindTypeByName("Shape"))
            .SetDescription("A shape changed.")
            .AddTag("test");
    }

    BindingFunctionDescriptor& AddFunction(const char* name) {
        return *registry_.RegisterFunction(name).descriptor;
    }

    BindingRegistry registry_;
};

TEST_F(ApiDeclarationTest, TypesWithFieldsAndEnumeratorsInNameOrder) {
    const auto built = BuildApiDeclaration(registry_, &TestEntryPoint);
    const ApiDeclaration& declaration = built->Declaration();

    // Fifteen builtin types and the three registered here, chained in name order.
    ASSERT_EQ(declaration.typeCount, 18u);
    ExpectChained(declaration.types, declaration.typeCount);
    for (std::uint32_t i = 1; i < declaration.typeCount; ++i) {
        EXPECT_LT(std::string(declaration.types[i - 1].name),
                  std::string(declaration.types[i].name));
    }

    const ApiTypeEntry* colour = FindType(declaration, "Colour");
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(+colour->size, sizeof(Colour));
    EXPECT_STREQ(colour->description, "A colour.");
    EXPECT_STREQ(colour->nameSpace, "");
    EXPECT_EQ(Texts(colour->tags, colour->tagCount), std::vector<std::string>{"test"});
    EXPECT_EQ(+colour->fields, nullptr);
    ASSERT_EQ(+colour->memberCount, 2u);
    ExpectChained(colour->values, colour->memberCount);
    EXPECT_STREQ(colour->values[0].name, "Green");
    EXPECT_EQ(+colour->values[0].value, 2);
    EXPECT_STREQ(colour->values[0].description, "");
    EXPECT_STREQ(colour->values[1].name, "Red");
    EXPECT_EQ(+colour->values[1].value, 1);
    EXPECT_STREQ(colour->values[1].description, "Warm");

    const ApiTypeEntry* shape = FindType(declaration, "Shape");
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(+shape->size, sizeof(Shape));
    EXPECT_STREQ(shape->nameSpace, "Korvel::Test");
    EXPECT_EQ(Texts(shape->tags, shape->tagCount), (std::vector<std::string>{"test", "shapes"}));
    EXPECT_EQ(+shape->values, nullptr);
    ASSERT_EQ(+shape->memberCount, 6u);
    ExpectChained(shape->fields, shape->memberCount);

    struct Expected {
        const char* name;
        std::uint32_t offset;
        std::int32_t kind;
        std::int32_t elementKind;
        const char* typeName;
        std::uint8_t optional;
    };
    const Expected expected[] = {
        {"name", offsetof(Shape, name), 12, 0, "", 0},
        {"colour", offsetof(Shape, colour), 16, 0, "Colour", 0},
        {"points", offsetof(Shape, points), 15, 17, "Point", 0},
        {"anchors", offsetof(Shape, anchors), 19, 17, "Point", 0},
        {"weight", offsetof(Shape, weight), 11, 0, "", 1},
        {"sizes", offsetof(Shape, sizes), 15, 6, "", 0},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const ApiFieldEntry& field = shape->fields[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_STREQ(field.name, expected[i].name);
        EXPECT_EQ(+field.offset, expected[i].offset);
        EXPECT_EQ(+field.kind, expected[i].kind);
        EXPECT_EQ(+field.elementKind, expected[i].elementKind);
        EXPECT_STREQ(field.typeName, expected[i].typeName);
        EXPECT_EQ(+field.optional, expected[i].optional);
    }
    const ApiTypeEntry* point = FindType(declaration, "Point");
    ASSERT_NE(point, nullptr);
    EXPECT_STREQ(point->fields[0].description, "Across");

    // A builtin enumeration keeps its descriptions; its enumerators are listed by name.
    const ApiTypeEntry* state = FindType(declaration, "BindingAsyncState");
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(+state->memberCount, 6u);
    EXPECT_STREQ(state->values[3].name, "None");
    EXPECT_STREQ(state->values[3].description, "Invalid state");
    EXPECT_EQ(+state->values[3].value, 0);
}

TEST_F(ApiDeclarationTest, EventsWithDataTypeNames) {
    const auto built = BuildApiDeclaration(registry_, &TestEntryPoint);
    const ApiDeclaration& declaration = built->Declaration();
    ASSERT_EQ(declaration.eventCount, 2u);
    ExpectChained(declaration.events, declaration.eventCount);
    const ApiEventEntry& callback = declaration.events[0];
    EXPECT_STREQ(callback.name, "OnCallback");
    EXPECT_STREQ(callback.dataTypeName, "BindingCallbackEvent");
    EXPECT_STREQ(callback.description, "Fired when a callback is invoked.");
    EXPECT_EQ(Texts(callback.tags, callback.tagCount), std::vector<std::string>{"$builtin"});
    const ApiEventEntry& shape = declaration.events[1];
    EXPECT_STREQ(shape.name, "OnShape");
    EXPECT_STREQ(shape.dataTypeName, "Shape");
    EXPECT_STREQ(shape.nameSpace, "");
    EXPECT_STREQ(shape.description, "A shape changed.");
}

TEST_F(ApiDeclarationTest, NoFunctionsStillDeclaresTypesAndEvents) {
    const auto built = BuildApiDeclaration(registry_, &TestEntryPoint);
    const ApiDeclaration& declaration = built->Declaration();
    EXPECT_EQ(declaration.functionCount, 0u);
    EXPECT_EQ(declaration.functions, nullptr);
    EXPECT_EQ(declaration.typeCount, 18u);
    EXPECT_EQ(declaration.eventCount, 2u);
}

TEST_F(ApiDeclarationTest, FunctionsWithArgumentsRoutesAndUserData) {
    BindingFunctionDescriptor& get = AddFunction("GetShape");
    get.nameSpace = "Shapes";
    get.description = "Reads a shape.";
    get.help = "Long help.";
    get.threadSafe = true;
    get.returns = {FieldKind::Struct, FieldKind::None, registry_.FindTypeByName("Shape")};
    get.tags = {"Plugins", "Plugin test"};
    get.parameters.push_back({"id", "The shape", false, {FieldKind::Uint32}, 2});
    get.parameters.push_back(
        {"filter",
         "",
         true,
         {FieldKind::Vector, FieldKind::Enum, registry_.FindTypeByName("Colour")},
         1});
    get.parameters.push_back({"odd", "", false, {FieldKind::String}, 3});
    get.parameters.push_back({"bad", "", false, {FieldKind::String}, 9});
    ASSERT_FALSE(SetRoutePath(get, "/shapes/{id}/").failed);
    SetRouteMethod(get, HttpMethod::Get);

    BindingFunctionDescriptor& byName = AddFunction("Apply");
    byName.async = true;
    byName.returns = {FieldKind::Struct, FieldKind::None, registry_.FindTypeByName("Point")};

    BindingFunctionDescriptor& custom = AddFunction("Purge");
    custom.path = "/purge";
    SetRouteCustomMethod(custom, "PURGE");

    BindingFunctionDescriptor& unusual = AddFunction("Odd");
    unusual.method = 12;
    unusual.returns = {FieldKind::Vector, FieldKind::Int32, nullptr};

    const auto built = BuildApiDeclaration(registry_, &TestEntryPoint);
    const ApiDeclaration& declaration = built->Declaration();
    ASSERT_EQ(declaration.functionCount, 4u);
    ExpectChained(declaration.functions, declaration.functionCount);
    EXPECT_STREQ(declaration.functions[0].name, "Apply");
    EXPECT_STREQ(declaration.functions[3].name, "Purge");

    const ApiFunctionEntry* entry = FindFunction(declaration, "GetShape");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(+entry->zero, 0u);
    EXPECT_STREQ(entry->nameSpace, "Shapes");
    EXPECT_STREQ(entry->description, "Reads a shape.");
    EXPECT_STREQ(entry->help, "Long help.");
    EXPECT_EQ(+entry->threadSafe, 1);
    EXPECT_STREQ(entry->asyncResultType, "");
    EXPECT_EQ(+entry->returnKind, 17);
    EXPECT_EQ(+entry->returnElementKind, 0);
    EXPECT_STREQ(entry->returnTypeName, "Shape");
    EXPECT_EQ(Texts(entry->tags, entry->tagCount),
              (std::vector<std::string>{"Plugins", "Plugin test"}));
    EXPECT_STREQ(entry->path, "/shapes/{id}");
    EXPECT_EQ(+entry->method, 2u);
    EXPECT_STREQ(entry->methodText, "");
    EXPECT_EQ(+entry->routeFlag, 0);
    EXPECT_EQ(+entry->textLists, nullptr);
    EXPECT_EQ(+entry->textListCount, 0u);
    EXPECT_EQ(+entry->entryPoint, &TestEntryPoint);

    ASSERT_EQ(+entry->argumentCount, 4u);
    ExpectChained(entry->arguments, entry->argumentCount);
    EXPECT_STREQ(entry->arguments[0].name, "id");
    EXPECT_STREQ(entry->arguments[0].description, "The shape");
    EXPECT_EQ(+entry->arguments[0].kind, 7);
    EXPECT_STREQ(entry->arguments[0].typeName, "");
    EXPECT_EQ(+entry->arguments[0].optional, 0);
    EXPECT_EQ(+entry->arguments[1].kind, 15);
    EXPECT_EQ(+entry->arguments[1].elementKind, 16);
    EXPECT_STREQ(entry->arguments[1].typeName, "Colour");
    EXPECT_EQ(+entry->arguments[1].optional, 1);
    // One location per argument; codes outside 1 to 5 are declared as 0.
    ExpectChained(entry->argumentLocations, entry->argumentCount);
    EXPECT_EQ(+entry->argumentLocations[0].location, 2);
    EXPECT_EQ(+entry->argumentLocations[1].location, 1);
    EXPECT_EQ(+entry->argumentLocations[2].location, 3);
    EXPECT_EQ(+entry->argumentLocations[3].location, 0);

    // The user data names the registry and the function; it is recorded under the name.
    const auto* user = static_cast<const DeclaredFunction*>(entry->userData);
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->registry, &registry_);
    EXPECT_EQ(user->function, registry_.FindFunction("GetShape"));
    EXPECT_EQ(built->FindFunction("GetShape"), user);
    EXPECT_EQ(built->FindFunction("Unknown"), nullptr);

    // Without a route path: the empty path and method 0; an async function names its result.
    const ApiFunctionEntry* apply = FindFunction(declaration, "Apply");
    ASSERT_NE(apply, nullptr);
    EXPECT_STREQ(apply->path, "");
    EXPECT_EQ(+apply->method, 0u);
    EXPECT_STREQ(apply->asyncResultType, "Point");
    EXPECT_EQ(+apply->argumentCount, 0u);
    EXPECT_EQ(+apply->arguments, nullptr);
    EXPECT_EQ(+apply->argumentLocations, nullptr);
    EXPECT_EQ(+apply->tags, nullptr);
    EXPECT_STREQ(apply->nameSpace, "");

    const ApiFunctionEntry* purge = FindFunction(declaration, "Purge");
    ASSERT_NE(purge, nullptr);
    EXPECT_EQ(+purge->method, 8u);
    EXPECT_STREQ(purge->methodText, "PURGE");

    // A method code outside 1 to 8 is declared as 0; a vector of a scalar has no type name.
    const ApiFunctionEntry* odd = FindFunction(declaration, "Odd");
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(+odd->method, 0u);
    EXPECT_EQ(+odd->returnKind, 15);
    EXPECT_EQ(+odd->returnElementKind, 6);
    EXPECT_STREQ(odd->returnTypeName, "");
}

TEST_F(ApiDeclarationTest, TextsAreCopiesThatOutliveRegistryChanges) {
    BindingFunctionDescriptor& function = AddFunction("Describe");
    function.description = "Before";
    const auto built = BuildApiDeclaration(registry_, &TestEntryPoint);
    const ApiDeclaration& declaration = built->Declaration();

    function.description = std::string(200, 'x');
    ASSERT_TRUE(registry_.UnregisterEvent("OnShape"));
    ASSERT_TRUE(registry_.UnregisterType("Shape"));

    EXPECT_STREQ(FindFunction(declaration, "Describe")->description, "Before");
    const ApiTypeEntry* shape = FindType(declaration, "Shape");
    ASSERT_NE(shape, nullptr);
    EXPECT_STREQ(shape->fields[2].typeName, "Point");
    EXPECT_STREQ(declaration.events[1].dataTypeName, "Shape");
}

} // namespace
} // namespace Korvel
