// Checks the value model against a plain reference model under long random sequences of
// operations (setters, write accessors, removal, copies and moves within one tree and between
// two trees, exchanges of roots), and the bins of the value pool for every block size.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "binding/binding_property.h"
#include "binding/binding_value_pool.h"

namespace {

using namespace Korvel;

struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return CompareBindingNames(a, b) < 0;
    }
};

struct Model {
    BindingKind kind = BindingKind::Empty;
    std::uint64_t raw = 0;
    double f = 0;
    std::string text;
    std::vector<std::uint8_t> bytes;
    std::vector<Model> elements;
    std::map<std::string, Model, NameLess> members;
};

void Check(const BindingProperty& v, const Model& m, const std::string& where) {
    ASSERT_EQ(v.Kind(), m.kind) << where;
    switch (m.kind) {
    case BindingKind::Empty:
        EXPECT_EQ(v.Size(), 0u);
        break;
    case BindingKind::Bool:
        EXPECT_EQ(v.GetBool(), m.raw != 0) << where;
        break;
    case BindingKind::Signed:
        EXPECT_EQ(v.GetSigned(), static_cast<std::int64_t>(m.raw)) << where;
        break;
    case BindingKind::Unsigned:
        EXPECT_EQ(v.GetUnsigned(), m.raw) << where;
        break;
    case BindingKind::Float:
        EXPECT_EQ(v.GetFloat(), m.f) << where;
        break;
    case BindingKind::String:
        EXPECT_EQ(v.GetString(), m.text) << where;
        EXPECT_EQ(v.Size(), m.text.size());
        break;
    case BindingKind::Blob: {
        auto b = v.GetBlob();
        EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.end()), m.bytes) << where;
        break;
    }
    case BindingKind::Enum:
        EXPECT_EQ(v.GetEnum().value, static_cast<std::int32_t>(m.raw)) << where;
        break;
    case BindingKind::Collection:
        ASSERT_EQ(v.Size(), m.elements.size()) << where;
        for (std::size_t i = 0; i < m.elements.size(); ++i) {
            Check(v.Element(i), m.elements[i], where + "[" + std::to_string(i) + "]");
        }
        break;
    case BindingKind::Structure: {
        ASSERT_EQ(v.Size(), m.members.size()) << where;
        auto it = m.members.begin();
        for (const auto member : v.Members()) {
            ASSERT_EQ(std::string(member.name), it->first) << where;
            Check(member.value, it->second, where + "." + it->first);
            ++it;
        }
        break;
    }
    }
}

enum class Step { Member, Element };
using Path = std::vector<std::pair<Step, std::string>>;

// Walks a random path of existing nodes.
Path RandomPath(const Model& root, std::mt19937& rng) {
    Path path;
    const Model* m = &root;
    while (true) {
        if (rng() % 3 == 0) {
            return path;
        }
        if (m->kind == BindingKind::Collection && !m->elements.empty()) {
            std::size_t i = rng() % m->elements.size();
            path.push_back({Step::Element, std::to_string(i)});
            m = &m->elements[i];
        } else if (m->kind == BindingKind::Structure && !m->members.empty()) {
            auto it = m->members.begin();
            std::advance(it, rng() % m->members.size());
            path.push_back({Step::Member, it->first});
            m = &it->second;
        } else {
            return path;
        }
    }
}

Model& Resolve(Model& root, const Path& path) {
    Model* m = &root;
    for (auto& [step, key] : path) {
        m = step == Step::Element ? &m->elements[std::stoul(key)] : &m->members.at(key);
    }
    return *m;
}

BindingProperty& Resolve(BindingProperty& root, const Path& path) {
    BindingProperty* v = &root;
    for (auto& [step, key] : path) {
        if (step == Step::Element) {
            v = &v->Elements()[std::stoul(key)];
        } else {
            v = const_cast<BindingProperty*>(v->FindMember(key));
        }
    }
    return *v;
}

bool IsPrefix(const Path& a, const Path& b) {
    return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
}

const char* kNames[] = {"a", "b", "B", "ab", "", "\xff", "zz", "name", "a\xc3\xa9", "x"};

void ClearModel(Model& m) {
    m = Model{};
}

TEST(BindingPropertyModel, RandomOperationsMatchAModel) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        BindingProperty trees[2];
        Model models[2];
        for (int op = 0; op < 200; ++op) {
            const int t = static_cast<int>(rng() % 2);
            BindingProperty& root = trees[t];
            Model& mroot = models[t];
            const Path path = RandomPath(mroot, rng);
            BindingProperty& v = Resolve(root, path);
            Model& m = Resolve(mroot, path);
            const unsigned what = rng() % 18;
            std::string note = "seed " + std::to_string(seed) + " op " + std::to_string(op) +
                               " what " + std::to_string(what);
            switch (what) {
            case 0: {
                std::int64_t x = static_cast<std::int64_t>(rng()) - 100;
                v = x;
                ClearModel(m);
                m.kind = BindingKind::Signed;
                m.raw = static_cast<std::uint64_t>(x);
                break;
            }
            case 1: {
                std::string s = kNames[rng() % 10];
                s += std::to_string(rng() % 5);
                if (rng() % 4 == 0) {
                    // Lengths around the ends of the bins, the array slabs and the heap.
                    const std::size_t lengths[] = {55, 56, 57, 2031, 2032, 2033, 5000};
                    s.assign(lengths[rng() % 7], static_cast<char>('a' + rng() % 3));
                }
                v = s;
                ClearModel(m);
                m.kind = BindingKind::String;
                m.text = s;
                break;
            }
            case 2: {
                std::vector<std::uint8_t> b(rng() % 5, 7);
                v.SetBlob(b);
                ClearModel(m);
                m.kind = BindingKind::Blob;
                m.bytes = b;
                break;
            }
            case 3:
            case 4: {
                std::string name = kNames[rng() % 10];
                v.Member(name);
                if (m.kind != BindingKind::Structure) {
                    ClearModel(m);
                    m.kind = BindingKind::Structure;
                }
                m.members[name];
                break;
            }
            case 5: {
                std::size_t i = rng() % 6;
                v.Element(i);
                if (m.kind != BindingKind::Collection) {
                    ClearModel(m);
                    m.kind = BindingKind::Collection;
                }
                if (m.elements.size() <= i) {
                    m.elements.resize(i + 1);
                }
                break;
            }
            case 6:
                v.Append();
                if (m.kind != BindingKind::Collection) {
                    ClearModel(m);
                    m.kind = BindingKind::Collection;
                }
                m.elements.emplace_back();
                break;
            case 7:
                v.Clear();
                ClearModel(m);
                break;
            case 8: {
                std::string name =
                    rng() % 2 ? std::string(kNames[rng() % 10]) : "m" + std::to_string(rng() % 90);
                bool removed = v.RemoveMember(name);
                bool had = m.kind == BindingKind::Structure && m.members.erase(name) == 1;
                EXPECT_EQ(removed, had) << note;
                break;
            }
            case 9:
            case 10: {
                // Copy from a node of the same or the other tree.
                const int s = static_cast<int>(rng() % 2);
                const Path from = RandomPath(models[s], rng);
                const Model snap = Resolve(models[s], from);
                BindingProperty& source = Resolve(trees[s], from);
                v = source;
                m = snap;
                break;
            }
            case 11:
            case 12: {
                // Take from a node of the same or the other tree.
                const int s = static_cast<int>(rng() % 2);
                const Path from = RandomPath(models[s], rng);
                BindingProperty& source = Resolve(trees[s], from);
                const Model snap = Resolve(models[s], from);
                const bool sameTree = s == t;
                if (sameTree && IsPrefix(from, path)) {
                    // target inside (or equal to) source: unchanged
                    v.Take(source);
                    break;
                }
                v.Take(source);
                if (sameTree && IsPrefix(path, from)) {
                    m = snap; // source inside target
                } else {
                    Resolve(models[s], from) = Model{};
                    // The root of the other tree keeps its (now empty) place.
                    Model& mt = Resolve(models[t], path);
                    mt = snap;
                }
                break;
            }
            case 13:
                v.MakeStructure();
                if (m.kind != BindingKind::Structure) {
                    ClearModel(m);
                    m.kind = BindingKind::Structure;
                }
                break;
            case 14:
                v.MakeCollection();
                if (m.kind != BindingKind::Collection) {
                    ClearModel(m);
                    m.kind = BindingKind::Collection;
                }
                break;
            case 15: {
                // Many members, to reach the large form.
                if (rng() % 4 == 0) {
                    for (int k = 0; k < 70; ++k) {
                        std::string name = "m" + std::to_string(rng() % 90);
                        v.Member(name) = static_cast<std::int64_t>(k);
                        if (m.kind != BindingKind::Structure) {
                            ClearModel(m);
                            m.kind = BindingKind::Structure;
                        }
                        Model& x = m.members[name];
                        ClearModel(x);
                        x.kind = BindingKind::Signed;
                        x.raw = static_cast<std::uint64_t>(k);
                    }
                }
                break;
            }
            case 16: {
                // Swap the two roots by moves.
                BindingProperty tmp(std::move(trees[0]));
                trees[0] = std::move(trees[1]);
                trees[1] = std::move(tmp);
                std::swap(models[0], models[1]);
                break;
            }
            case 17: {
                v.Reserve(rng() % 200);
                break;
            }
            }
            for (int k = 0; k < 2; ++k) {
                Check(trees[k], models[k], note + " tree " + std::to_string(k));
                EXPECT_TRUE(trees[k].Equals(BindingProperty(trees[k]))) << note;
            }
            if (::testing::Test::HasFailure()) {
                return;
            }
        }
        for (auto& tree : trees) {
            BindingValuePool* pool = tree.Pool();
            tree.Clear();
            if (pool != nullptr) {
                EXPECT_EQ(pool->InternedCount(), 0u) << seed;
                EXPECT_EQ(pool->PagesHeld(), 0u) << seed;
            }
        }
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
}

struct PoolDeleter {
    void operator()(BindingValuePool* pool) const { BindingValuePool::Destroy(pool); }
};

TEST(BindingValuePoolBins, EverySizeNumbersAndRecyclesItsBlocks) {
    for (std::size_t size = 1; size <= 72; ++size) {
        std::unique_ptr<BindingValuePool, PoolDeleter> pool(BindingValuePool::Create());
        const std::size_t rounded = (size + 3) / 4 * 4;
        const std::size_t first = (rounded + 15) / rounded;
        // Inline page, then two full 4096 pages, in ascending order.
        std::vector<void*> blocks;
        std::size_t expectIndex = first;
        std::size_t expectPageSize = 144;
        const void* page = nullptr;
        for (int k = 0; k < 3000; ++k) {
            void* block = pool->AllocateBlock(size);
            auto where = pool->Locate(block, size);
            if (page != nullptr && where.page != page) {
                ASSERT_EQ(expectIndex, expectPageSize / rounded) << size;
                expectPageSize = 4096;
                expectIndex = first;
            }
            page = where.page;
            ASSERT_EQ(where.pageSize, expectPageSize) << size;
            ASSERT_EQ(where.index, expectIndex) << size << " " << k;
            ++expectIndex;
            blocks.push_back(block);
        }
        std::mt19937 rng(static_cast<unsigned>(size));
        std::set<void*> live(blocks.begin(), blocks.end());
        ASSERT_EQ(live.size(), blocks.size());
        for (int round = 0; round < 20000; ++round) {
            if (!blocks.empty() && rng() % 2 == 0) {
                std::size_t i = rng() % blocks.size();
                void* block = blocks[i];
                blocks[i] = blocks.back();
                blocks.pop_back();
                live.erase(block);
                pool->FreeBlock(block, size);
            } else {
                void* block = pool->AllocateBlock(size);
                ASSERT_TRUE(live.insert(block).second) << "handed out twice, size " << size;
                auto where = pool->Locate(block, size);
                ASSERT_GE(where.index, first);
                ASSERT_LE(where.index, where.pageSize / rounded - 1);
                std::memset(block, 0xA5, rounded);
                blocks.push_back(block);
            }
        }
        for (void* block : blocks) {
            pool->FreeBlock(block, size);
        }
        EXPECT_EQ(pool->PagesHeld(), 0u) << size;
    }
}

TEST(BindingPropertyModel, HugeIndicesMovedFromValuesAndSwaps) {
    BindingProperty tree;
    tree.Element(2) = "two";
    BindingProperty& sink = tree.Element(static_cast<std::size_t>(-1));
    sink.Member("k") = "v";
    EXPECT_EQ(tree.Size(), 3u);
    EXPECT_EQ(std::as_const(tree).Element(2).GetString(), "two");
    sink = tree; // a copy of the tree into the refused place
    EXPECT_EQ(sink.Size(), 3u);
    sink.Take(tree); // the source ends empty
    EXPECT_TRUE(tree.IsEmpty());
    tree.Element(1) = 5;
    BindingProperty& sink2 = tree.Element(std::size_t{1} << 30);
    EXPECT_TRUE(sink2.IsEmpty()); // emptied whenever it is handed out
    EXPECT_EQ(tree.Size(), 2u);
    tree = std::move(sink2);
    EXPECT_TRUE(tree.IsEmpty());

    // A moved-from root is usable.
    BindingProperty a;
    a.Member("x").Element(3) = "s";
    BindingProperty b(std::move(a));
    EXPECT_TRUE(a.IsEmpty());
    a.Member("y") = "again";
    a = b;
    EXPECT_TRUE(a.Equals(b));
    a = std::move(b);
    EXPECT_TRUE(b.IsEmpty());
    b = std::move(b);
    EXPECT_TRUE(b.IsEmpty());
    b.Take(b);
    EXPECT_EQ(std::as_const(a).Member("x").Element(3).GetString(), "s");

    // Swap of a root with its own child (child first, so no reference dies early).
    BindingProperty r;
    r.Member("c").Member("d") = "leaf";
    r.Member("e") = 1;
    std::swap(r.Member("c"), r);
    EXPECT_EQ(std::as_const(r).Member("d").GetString(), "leaf");
    EXPECT_FALSE(r.HasMember("e"));
    BindingProperty r2;
    r2.Member("c").Member("d") = "leaf";
    std::swap(r2, r2.Member("c"));
    EXPECT_EQ(std::as_const(r2).Member("d").GetString(), "leaf");

    // Two members of one tree.
    BindingProperty s;
    s.Member("p") = "one";
    s.Member("q").Element(0) = "two";
    std::swap(s.Member("p"), s.Member("q"));
    EXPECT_EQ(std::as_const(s).Member("q").GetString(), "one");
    EXPECT_EQ(std::as_const(s).Member("p").Element(0).GetString(), "two");
    BindingValuePool* pool = s.Pool();
    s.Clear();
    EXPECT_EQ(pool->InternedCount(), 0u);
}

} // namespace
