#include "encoding/yaml_reader.h"

#include <gtest/gtest.h>

#include <string>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "encoding/decode_limits.h"

namespace Korvel {
namespace {

BindingResult Read(const std::string& text) {
    return ReadYaml(text);
}

void ExpectError(const std::string& text, const std::string& message) {
    const BindingResult result = Read(text);
    EXPECT_FALSE(result.IsSuccess()) << text;
    EXPECT_EQ(result.GetError(), message) << text;
    EXPECT_EQ(result.value.Size(), 1u) << text;
}

TEST(YamlReader, ScalarsInMappings) {
    EXPECT_TRUE(Read("").IsSuccess());
    EXPECT_TRUE(Read("").value.IsEmpty());
    EXPECT_TRUE(Read("# only a comment\n").value.IsEmpty());

    EXPECT_EQ(Read("a: 1").value.Member("a").GetUnsigned(), 1u);
    EXPECT_EQ(Read("a: '1'").value.Member("a").GetString(), "1");
    EXPECT_EQ(Read("a: \"1\"").value.Member("a").GetString(), "1");
    EXPECT_EQ(Read("a: 1.5").value.Member("a").GetFloat(), 1.5);
    EXPECT_EQ(Read("a: -3").value.Member("a").GetSigned(), -3);
    EXPECT_EQ(Read("a: 2.0").value.Member("a").Kind(), BindingKind::Unsigned);
    EXPECT_TRUE(Read("a: yes").value.Member("a").GetBool());
    EXPECT_TRUE(Read("a: On").value.Member("a").GetBool());
    EXPECT_EQ(Read("a: n").value.Member("a").Kind(), BindingKind::Bool);
    EXPECT_EQ(Read("a: YeS").value.Member("a").GetString(), "YeS");
    for (const char* text : {"a: ~", "a: null", "a:"}) {
        const BindingResult result = Read(text);
        ASSERT_TRUE(result.value.HasMember("a")) << text;
        EXPECT_TRUE(result.value.Member("a").IsEmpty()) << text;
    }
    EXPECT_EQ(Read("a: !!bool maybe").value.Member("a").Kind(), BindingKind::Empty);
    EXPECT_EQ(Read("a: !!str 12").value.Member("a").GetString(), "12");
    EXPECT_EQ(Read("a: !!int -12").value.Member("a").GetSigned(), -12);
    EXPECT_EQ(Read("a: !!float 2").value.Member("a").Kind(), BindingKind::Float);
    EXPECT_EQ(Read("a: |\n  two\n  lines\n").value.Member("a").GetString(), "two\nlines\n");
    EXPECT_EQ(Read("plain text").value.GetString(), "plain text");
    EXPECT_EQ(Read("--- 42\n...\n").value.GetUnsigned(), 42u);

    ExpectError("a: !!foo x", "Unsupported YAML tag 'tag:yaml.org,2002:foo'.");
    ExpectError("a: !!int 1x", "Value 1x for 'yaml' of type uint64_t is in an incorrect format");
}

TEST(YamlReader, ExplicitTagsOnScalars) {
    // A tag decides the kind whatever the scalar's style; every way of writing the tag counts.
    EXPECT_TRUE(Read("a: !!bool true").value.Member("a").GetBool());
    EXPECT_FALSE(Read("a: !!bool OFF").value.Member("a").GetBool(true));
    EXPECT_EQ(Read("a: !!int '12'").value.Member("a").GetUnsigned(), 12u);
    EXPECT_EQ(Read("a: !!float \"2\"").value.Member("a").GetFloat(), 2.0);
    EXPECT_EQ(Read("a: !!bool \"yes\"").value.Member("a").Kind(), BindingKind::Bool);
    EXPECT_EQ(Read("a: !!str yes").value.Member("a").GetString(), "yes");
    EXPECT_EQ(Read("a: !!str ~").value.Member("a").GetString(), "~");
    EXPECT_EQ(Read("a: !<tag:yaml.org,2002:int> 7").value.Member("a").GetUnsigned(), 7u);
    EXPECT_EQ(Read("%TAG ! tag:yaml.org,2002:\n---\na: !int 5").value.Member("a").GetUnsigned(),
              5u);
    // An integer tag on an empty text reads 0.
    const BindingResult empty = Read("a: !!int\nb: 1");
    ASSERT_TRUE(empty.IsSuccess()) << empty.GetError();
    EXPECT_EQ(empty.value.Member("a").Kind(), BindingKind::Unsigned);
    EXPECT_EQ(empty.value.Member("b").GetUnsigned(), 1u);

    ExpectError("a: !!int 18446744073709551616",
                "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range");
    ExpectError("a: !!int -9223372036854775809",
                "Value -9223372036854775809 for 'yaml' of type int64_t is out of range");
    ExpectError("a: !!float 1e400", "Value 1e400 for 'yaml' of type double is out of range");
    ExpectError("a: !!float x", "Value x for 'yaml' of type double is in an incorrect format");
    ExpectError("a: !!null ~", "Unsupported YAML tag 'tag:yaml.org,2002:null'.");
    ExpectError("a: !local 7", "Unsupported YAML tag '!local'.");
    ExpectError("a: ! 7", "Unsupported YAML tag '!'.");
    ExpectError("- 1\n- !!binary aGk=", "Unsupported YAML tag 'tag:yaml.org,2002:binary'.");
}

TEST(YamlReader, BlockScalarsFollowThePlainRules) {
    // Literal and folded scalars are read like plain ones; only quoting makes a text.
    EXPECT_EQ(Read("a: |-\n  42\n").value.Member("a").GetUnsigned(), 42u);
    EXPECT_EQ(Read("a: >-\n  -7\n").value.Member("a").GetSigned(), -7);
    EXPECT_TRUE(Read("a: |-\n  yes\n").value.Member("a").GetBool());
    const BindingResult empty = Read("a: |\nb: 1\n");
    ASSERT_TRUE(empty.IsSuccess()) << empty.GetError();
    EXPECT_TRUE(empty.value.Member("a").IsEmpty());
    // The kept line break is part of the text, which is then not wholly a number.
    EXPECT_EQ(Read("a: |\n  42\n").value.Member("a").GetString(), "42\n");

    EXPECT_EQ(Read("a: 'yes'").value.Member("a").GetString(), "yes");
    EXPECT_EQ(Read("a: \"~\"").value.Member("a").GetString(), "~");
    EXPECT_EQ(Read("a: ''").value.Member("a").Kind(), BindingKind::String);
    EXPECT_EQ(Read("a: '-2.5'").value.Member("a").GetString(), "-2.5");
    // Keys are texts whatever they look like.
    const BindingResult keys = Read("1: a\nnull: b\ntrue: c\n");
    ASSERT_TRUE(keys.IsSuccess()) << keys.GetError();
    EXPECT_EQ(keys.value.Member("1").GetString(), "a");
    EXPECT_EQ(keys.value.Member("null").GetString(), "b");
    EXPECT_EQ(keys.value.Member("true").GetString(), "c");
}

TEST(YamlReader, NestedDocument) {
    const BindingResult result = Read("status: up\n"
                                      "messages:\n"
                                      "  - id: 7\n"
                                      "    translations: {en: Down, de: Ausfall}\n"
                                      "  - [1, two, 3.5]\n"
                                      "\"quoted key\": ok\n"
                                      "!!str 5: five\n"
                                      "\"\": empty key\n");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    const BindingProperty& value = result.value;
    EXPECT_EQ(value.Size(), 5u);
    EXPECT_EQ(value.Member("status").GetString(), "up");
    const BindingProperty& messages = value.Member("messages");
    ASSERT_EQ(messages.Size(), 2u);
    EXPECT_EQ(messages.Element(0).Member("id").GetUnsigned(), 7u);
    EXPECT_EQ(messages.Element(0).Member("translations").Member("de").GetString(), "Ausfall");
    EXPECT_EQ(messages.Element(1).Element(1).GetString(), "two");
    EXPECT_EQ(messages.Element(1).Element(2).GetFloat(), 3.5);
    EXPECT_EQ(value.Member("quoted key").GetString(), "ok");
    EXPECT_EQ(value.Member("5").GetString(), "five");
    EXPECT_EQ(value.Member("").GetString(), "empty key");
}

TEST(YamlReader, KeyErrors) {
    ExpectError("? [1, 2]\n: x", "Unexpected start of sequence. At line: 1 col: 3");
    ExpectError("a: 1\n? {b: 2}\n: x", "Unexpected start of mapping. At line: 2 col: 3");
    ExpectError("!!int 1: x",
                "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1");
    ExpectError("a: &k x\n*k : y",
                "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1");
}

TEST(YamlReader, RepeatedKeys) {
    BindingResult result = Read("a: 1\na: 2");
    EXPECT_EQ(result.value.Member("a").GetUnsigned(), 2u);
    // A sequence appends to an earlier one; a mapping merges.
    result = Read("a: [1, 2]\na: [3]");
    ASSERT_EQ(result.value.Member("a").Size(), 3u);
    EXPECT_EQ(result.value.Member("a").Element(2).GetUnsigned(), 3u);
    result = Read("a: {x: 1}\na: {y: 2}");
    EXPECT_EQ(result.value.Member("a").Size(), 2u);
    // A scalar replaces an earlier mapping, and the following keys are read as keys.
    result = Read("a: {x: 1}\na: 5\nb: 6");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("a").GetUnsigned(), 5u);
    EXPECT_EQ(result.value.Member("b").GetUnsigned(), 6u);
    // A sequence replaces an earlier mapping; null empties an earlier value.
    result = Read("a: {x: 1}\na: [1]\nb: 1\nb: ~");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("a").Kind(), BindingKind::Collection);
    EXPECT_TRUE(result.value.Member("b").IsEmpty());
}

TEST(YamlReader, AnchorsAndAliases) {
    BindingResult result = Read("a: &x [1, 2]\nb: *x");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("b"), result.value.Member("a"));
    EXPECT_EQ(result.value.Member("b").Size(), 2u);

    result = Read("base: &b {x: 1, y: [a]}\nlist:\n  - &s 7\n  - *s\n  - *b\n");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("list").Element(1).GetUnsigned(), 7u);
    EXPECT_EQ(result.value.Member("list").Element(2), result.value.Member("base"));

    // An anchored key copies as its text, also as the value of its own key.
    result = Read("&k a: 1\nb: *k");
    EXPECT_EQ(result.value.Member("b").GetString(), "a");
    result = Read("&k a: *k");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("a").GetString(), "a");

    // A copy taken from an earlier value of the same repeated key.
    result = Read("a: {b: &x [1, 2]}\na: *x");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("a").Size(), 2u);
    result = Read("a: &x [1]\na: *x");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("a").Size(), 1u);

    // An alias copies its anchor's place as the tree stands now: later repeated keys count.
    result = Read("a: &x {p: 1}\na: {q: 2}\nb: *x");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("b").Size(), 2u);
    EXPECT_EQ(result.value.Member("b").Member("q").GetUnsigned(), 2u);
    result = Read("a: &x [1]\na: [2]\nb: *x");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("b").Size(), 2u);
    // An anchored key inside a flow mapping, an anchored null, an anchored root.
    result = Read("a: { &k b: 1, c: *k }\nn: &n\nm: *n");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    EXPECT_EQ(result.value.Member("a").Member("c").GetString(), "b");
    ASSERT_TRUE(result.value.HasMember("m"));
    EXPECT_TRUE(result.value.Member("m").IsEmpty());
    ExpectError("&r [1, *r]", "Cannot deserialize cyclic aliases. Alias \"r\". At line: 1 col: 8");
    ExpectError("a: &x 1\nb:\n  - 2\n  - &x 3",
                "Duplicate occurrence of anchor \"x\". At line: 4 col: 5");
    ExpectError("a: 1\nb:\n  - x\n  - *nope",
                "Undefined alias encountered: \"nope\". At line: 4 col: 5");

    ExpectError("a: &x [*x]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 8");
    ExpectError("m: &m\n  &k a: 1\n  b: *m",
                "Cannot deserialize cyclic aliases. Alias \"m\". At line: 3 col: 6");
    // The anchored place was reused by a repeated key that is still open.
    ExpectError("a: &x 1\na:\n  b: *x",
                "Cannot deserialize cyclic aliases. Alias \"x\". At line: 3 col: 6");
    ExpectError("a: 1\nb: *y", "Undefined alias encountered: \"y\". At line: 2 col: 4");
    ExpectError("a: &x 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4");
    ExpectError("&x a: &x 1", "Duplicate occurrence of anchor \"x\". At line: 1 col: 7");
}

TEST(YamlReader, DocumentsAndParserErrors) {
    ExpectError("a: 1\n---\nb: 2", "Multi-document YAML is not supported.");
    ExpectError("---\n...\n---\nb: 2", "Multi-document YAML is not supported.");
    ExpectError("--- ~\n--- 1", "Multi-document YAML is not supported.");
    ExpectError("a: 1\n---", "Multi-document YAML is not supported.");
    EXPECT_EQ(Read("a: 1\n...\n").value.Member("a").GetUnsigned(), 1u);
    ExpectError("a: [1, 2",
                "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0");
    ExpectError("a: 1\n b: 2",
                "YAML parser error: mapping values are not allowed in this context. At line: 1 "
                "col: 2");
    ExpectError(std::string("a: \xff"),
                "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 0");
}

TEST(YamlReader, AliasExpansionLimit) {
    // Each level is a sequence of two aliases of the previous one: level n copies 2^n nodes.
    std::string text = "l0: &l0 [x, x]\n";
    for (int level = 1; level <= 30; ++level) {
        const std::string previous = "l" + std::to_string(level - 1);
        const std::string name = "l" + std::to_string(level);
        text += name + ": &" + name + " [*" + previous + ", *" + previous + "]\n";
    }
    const BindingResult result = Read(text);
    EXPECT_FALSE(result.IsSuccess());
    EXPECT_EQ(result.GetError().rfind("Aliases expand to more than " +
                                          std::to_string(DecodeLimits::kMaxAliasCopiedNodes) +
                                          " nodes at alias \"l",
                                      0),
              0u)
        << result.GetError();

    // Moderate reuse stays below the limit.
    std::string modest = "d: &d {a: 1, b: [1, 2, 3]}\nlist:\n";
    for (int i = 0; i < 1000; ++i) {
        modest += "  - *d\n";
    }
    const BindingResult reused = Read(modest);
    ASSERT_TRUE(reused.IsSuccess()) << reused.GetError();
    EXPECT_EQ(reused.value.Member("list").Size(), 1000u);
}

TEST(YamlReader, AliasExpansionCountsTextBytes) {
    // A few aliases of a long text expand as much as many aliases of short ones: every copy is
    // written out in full by whoever reads the tree.
    const std::string big(1 << 20, 'x');
    const std::string limitText = std::to_string(DecodeLimits::kMaxAliasCopiedBytes);
    const auto expectBytesLimit = [&](const std::string& text) {
        const BindingResult result = Read(text);
        EXPECT_FALSE(result.IsSuccess());
        EXPECT_EQ(result.GetError().rfind("Aliases expand to more than " + limitText +
                                              " bytes of text at alias \"s\". At line: ",
                                          0),
                  0u)
            << result.GetError().substr(0, 200);
    };
    std::string list;
    for (int i = 0; i < 20; ++i) {
        list += "  - *s\n";
    }
    // Text in a container, a text scalar, a member name, and an anchored key.
    expectBytesLimit("s: &s [" + big + "]\nl:\n" + list);
    expectBytesLimit("s: &s " + big + "\nl:\n" + list);
    expectBytesLimit("s: &s\n  ? " + big + "\n  : 1\nl:\n" + list);
    expectBytesLimit("? &s " + big + "\n: 1\nl:\n" + list);

    // The error names where the budget ran out: the 17th copy of a 1 MiB text.
    const BindingResult result = Read("s: &s " + big + "\nl:\n" + list);
    EXPECT_NE(result.GetError().find("At line: 19 col: 5"), std::string::npos)
        << result.GetError().substr(0, 200);

    // Sixteen copies fit.
    std::string sixteen;
    for (int i = 0; i < 16; ++i) {
        sixteen += "  - *s\n";
    }
    const BindingResult fits = Read("s: &s " + big + "\nl:\n" + sixteen);
    ASSERT_TRUE(fits.IsSuccess()) << fits.GetError().substr(0, 200);
    EXPECT_EQ(fits.value.Member("l").Size(), 16u);
    EXPECT_EQ(fits.value.Member("l").Element(15).GetString().size(), big.size());
}

TEST(YamlReader, AliasWalksToDeepAnchorsAreBounded) {
    // An anchored value 100 levels deep under keys of 1000 bytes: each alias walks 101 steps from
    // the root ("a" costs 16 + 1, every long key 16 + 1000), 101 617 bytes of path in all.
    const auto document = [](int aliases) {
        std::string text = "a: ";
        for (int level = 0; level < 100; ++level) {
            text += "{" + std::string(998, 'k') + (level < 10 ? "0" : "") + std::to_string(level) +
                    ": ";
        }
        text += "&a 7" + std::string(100, '}') + "\nl: [";
        for (int i = 0; i < aliases; ++i) {
            text += "*a,";
        }
        return text + "]\n";
    };
    const std::uint64_t perAlias = 101 * DecodeLimits::kAliasPathStepBytes + 1 + 100 * 1000;
    const int fitting = static_cast<int>(DecodeLimits::kMaxAliasPathBytes / perAlias);

    const BindingResult fits = Read(document(fitting));
    ASSERT_TRUE(fits.IsSuccess()) << fits.GetError().substr(0, 200);
    ASSERT_EQ(fits.value.Member("l").Size(), static_cast<std::size_t>(fitting));
    EXPECT_EQ(fits.value.Member("l").Element(fitting - 1).GetUnsigned(), 7u);

    // One more alias fails where it stands: line 2, after "l: [" and `fitting` times "*a,".
    ExpectError(document(fitting + 1),
                "Aliases follow more than " + std::to_string(DecodeLimits::kMaxAliasPathBytes) +
                    " bytes of anchor paths at alias \"a\". At line: 2 col: " +
                    std::to_string(5 + 3 * fitting));
}

TEST(YamlReader, AliasPathsOfElementsCostOnlyTheirIndex) {
    // A sequence element sits at the same level as an earlier member under a 1 MiB key. The
    // element's place is two short steps from the root, so a hundred aliases of it follow a few
    // kilobytes of path; the long key belongs to another branch of the document.
    std::string text = "x:\n  ? " + std::string(1 << 20, 'k') + "\n  : 1\ny: [&a 5]\nz: [";
    for (int i = 0; i < 100; ++i) {
        text += "*a, ";
    }
    text += "]\n";
    const BindingResult result = Read(text);
    ASSERT_TRUE(result.IsSuccess()) << result.GetError().substr(0, 200);
    ASSERT_EQ(result.value.Member("z").Size(), 100u);
    EXPECT_EQ(result.value.Member("z").Element(99).GetUnsigned(), 5u);
}

// The process's peak resident size in kilobytes, where the system reports it.
long PeakResidentKilobytes() {
#if defined(__linux__)
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#else
    return 0;
#endif
}

TEST(YamlReader, AnchorsDeepInTheDocumentShareTheirPath) {
    // 200 levels of mappings under keys of a thousand characters, then a sequence of 2000
    // anchored scalars. Each anchor's place is 200 keys deep; copying that path for every anchor
    // would allocate 400 MB for an input of 200 kB.
    std::string text;
    for (int level = 0; level < 200; ++level) {
        text += "{" + std::string(1000, static_cast<char>('a' + level % 26)) +
                std::to_string(level) + ": ";
    }
    text += "[";
    for (int i = 0; i < 2000; ++i) {
        text += "&a" + std::to_string(i) + " " + std::to_string(i) + ", ";
    }
    text += "*a1999, *a7]" + std::string(200, '}');

    const long peakBefore = PeakResidentKilobytes();
    const BindingResult result = Read(text);
    ASSERT_TRUE(result.IsSuccess()) << result.GetError().substr(0, 200);
    EXPECT_LT(PeakResidentKilobytes() - peakBefore, 64 * 1024);

    // The aliases still find their anchors.
    const BindingProperty* inner = &result.value;
    for (int level = 0; level < 200; ++level) {
        ASSERT_EQ(inner->Size(), 1u);
        inner = &(*inner->Members().begin()).value;
    }
    ASSERT_EQ(inner->Size(), 2002u);
    EXPECT_EQ(inner->Element(1999).GetUnsigned(), 1999u);
    EXPECT_EQ(inner->Element(2000).GetUnsigned(), 1999u);
    EXPECT_EQ(inner->Element(2001).GetUnsigned(), 7u);
}

TEST(YamlReader, NestingLimit) {
    const std::size_t limit = DecodeLimits::kMaxNestingDepth;
    BindingResult result = Read(std::string(limit, '[') + "1" + std::string(limit, ']'));
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    const BindingProperty* inner = &result.value;
    for (std::size_t i = 0; i < limit; ++i) {
        inner = &inner->Element(0);
    }
    EXPECT_EQ(inner->GetUnsigned(), 1u);

    ExpectError(std::string(limit + 1, '[') + std::string(limit + 1, ']'),
                "YAML nesting is deeper than " + std::to_string(limit) +
                    " levels. At line: 1 col: " + std::to_string(limit + 1));
    // An alias copies its anchored value's depth to where it stands: the copy counts toward the
    // limit as if it had been written out there.
    const std::string half(limit / 2, '[');
    const std::string halfClose(limit / 2, ']');
    const std::string anchored = "a: &a " + half + "1" + halfClose + "\n";
    result = Read(anchored + "b: " + std::string(limit / 2 - 1, '[') + "*a" +
                  std::string(limit / 2 - 1, ']') + "\n");
    ASSERT_TRUE(result.IsSuccess()) << result.GetError();
    inner = &result.value.Member("b");
    for (std::size_t i = 0; i < limit - 1; ++i) {
        inner = &inner->Element(0);
    }
    EXPECT_EQ(inner->GetUnsigned(), 1u);
    ExpectError(anchored + "b: " + half + "*a" + halfClose + "\n",
                "YAML nesting is deeper than " + std::to_string(limit) +
                    " levels. At line: 2 col: " + std::to_string(4 + limit / 2));
    // Aliases of aliases cannot build up depth either.
    std::string chain = "a0: &a0 " + half + "1" + halfClose + "\n";
    for (int i = 1; i < 10; ++i) {
        chain += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " " + half + "*a" +
                 std::to_string(i - 1) + halfClose + "\n";
    }
    result = Read(chain);
    EXPECT_FALSE(result.IsSuccess());
    EXPECT_EQ(result.GetError().rfind("YAML nesting is deeper than", 0), 0u) << result.GetError();

    result = Read(std::string(1000000, '['));
    EXPECT_FALSE(result.IsSuccess());
    EXPECT_EQ(result.GetError().rfind("YAML nesting is deeper than", 0), 0u);
}

} // namespace
} // namespace Korvel
