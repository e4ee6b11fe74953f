#include "encoding/yaml_reader.h"

#include <yaml.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/binding_name_cache.h"
#include "diagnostics/format_message.h"
#include "encoding/decode_limits.h"
#include "encoding/yaml_scalar.h"

namespace Korvel {
namespace {

constexpr const char* kMultiDocument = "Multi-document YAML is not supported.";
constexpr const char* kInvalidKey =
    "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2";
constexpr const char* kSequenceStart = "Unexpected start of sequence. At line: %1 col: %2";
constexpr const char* kMappingStart = "Unexpected start of mapping. At line: %1 col: %2";
constexpr const char* kCyclicAlias =
    "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";
constexpr const char* kUndefinedAlias = "Undefined alias encountered: \"%1\". At line: %2 col: %3";
constexpr const char* kDuplicateAnchor =
    "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3";
constexpr const char* kParserError = "YAML parser error: %1. At line: %2 col: %3";
constexpr const char* kTooDeep = "YAML nesting is deeper than %1 levels. At line: %2 col: %3";
constexpr const char* kTooManyElements =
    "A YAML sequence holds at most %1 elements. At line: %2 col: %3";
constexpr const char* kAliasExpansion =
    "Aliases expand to more than %1 nodes at alias \"%2\". At line: %3 col: %4";
constexpr const char* kAliasTextExpansion =
    "Aliases expand to more than %1 bytes of text at alias \"%2\". At line: %3 col: %4";
constexpr const char* kAliasPathExpansion =
    "Aliases follow more than %1 bytes of anchor paths at alias \"%2\". At line: %3 col: %4";
constexpr const char* kOutOfMemory = "Not enough memory to read the YAML document.";

// How a node is reached from its parent.
struct PathStep {
    bool isIndex = false;
    std::size_t index = 0;
    std::string name;
};

// Entries of the path table (below) are named by their index; these two name no entry.
constexpr std::size_t kRootPath = static_cast<std::size_t>(-1); // the root value itself
constexpr std::size_t kNoPathYet = static_cast<std::size_t>(-2);

// A step of the path table: how a node is reached from its parent, whose own entry is `parent`.
// Anchors below one node share that node's entry, so recording an anchor costs one entry per open
// node not yet in the table, not a copy of the whole path (which, deep in a document under long
// keys, could be hundreds of kilobytes per anchor).
struct PathNode {
    std::size_t parent = kRootPath;
    PathStep step;
};

// An entry of the stack of open nodes. The stack is the path from the root to the node being
// built; every entry below the top is an open sequence or mapping.
struct OpenNode {
    BindingProperty* target = nullptr;
    std::string anchor;            // the anchor the node was opened under, empty if none
    PathStep step;                 // unused for the root entry
    std::size_t path = kNoPathYet; // the node's entry in the path table, once an anchor needs it
};

// What an anchor names: the place of an anchored value (an entry of the path table), or the text
// of an anchored mapping key.
struct Anchor {
    bool isText = false;
    std::string text;
    std::size_t path = kRootPath;
};

// Releases libyaml's parser and event whatever way the reader leaves.
class ParserGuard {
public:
    ParserGuard() { ready_ = yaml_parser_initialize(&parser_) != 0; }
    ~ParserGuard() {
        if (ready_) {
            yaml_parser_delete(&parser_);
        }
    }
    ParserGuard(const ParserGuard&) = delete;
    ParserGuard& operator=(const ParserGuard&) = delete;

    bool Ready() const noexcept { return ready_; }
    yaml_parser_t& Parser() noexcept { return parser_; }

private:
    yaml_parser_t parser_;
    bool ready_ = false;
};

class EventGuard {
public:
    explicit EventGuard(yaml_event_t& event) : event_(event) {}
    ~EventGuard() { yaml_event_delete(&event_); }
    EventGuard(const EventGuard&) = delete;
    EventGuard& operator=(const EventGuard&) = delete;

private:
    yaml_event_t& event_;
};

class Reader {
public:
    BindingResult Run(const char* text, std::size_t length) {
        try {
            Parse(text, length);
        } catch (const std::bad_alloc&) {
            Fail(kOutOfMemory);
        } catch (const std::length_error&) {
            Fail(kOutOfMemory);
        }
        names_.Clear();
        return std::move(result_);
    }

private:
    void Fail(const std::string& message) {
        failed_ = true;
        result_.SetError(message);
    }

    void Parse(const char* text, std::size_t length) {
        ParserGuard guard;
        if (!guard.Ready()) {
            Fail(kOutOfMemory);
            return;
        }
        yaml_parser_t& parser = guard.Parser();
        yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
        static const unsigned char kNoText[1] = {0};
        yaml_parser_set_input_string(
            &parser, text != nullptr ? reinterpret_cast<const unsigned char*>(text) : kNoText,
            length);

        Push(&result_.value).path = kRootPath;
        bool parserFailed = false;
        for (;;) {
            yaml_event_t event;
            if (yaml_parser_parse(&parser, &event) == 0) {
                parserFailed = true;
                break;
            }
            EventGuard eventGuard(event);
            const yaml_event_type_t type = event.type;
            Handle(event);
            if (failed_ || type == YAML_STREAM_END_EVENT) {
                break;
            }
        }
        if (parserFailed && !failed_) {
            const char* problem = parser.problem != nullptr ? parser.problem : "out of memory";
            Fail(FormatMessage(kParserError, problem,
                               static_cast<std::uint64_t>(parser.problem_mark.line),
                               static_cast<std::uint64_t>(parser.problem_mark.column)));
        }
    }

    // 1-based line and column of an event's start.
    static std::uint64_t Line(const yaml_event_t& event) {
        return static_cast<std::uint64_t>(event.start_mark.line) + 1;
    }
    static std::uint64_t Column(const yaml_event_t& event) {
        return static_cast<std::uint64_t>(event.start_mark.column) + 1;
    }

    // Pushes an entry; entries above the top are kept so that their strings keep their room.
    OpenNode& Push(BindingProperty* target) {
        if (depth_ == nodes_.size()) {
            nodes_.emplace_back();
        }
        OpenNode& node = nodes_[depth_++];
        node.target = target;
        node.anchor.clear();
        node.path = kNoPathYet;
        return node;
    }

    void Pop() noexcept {
        if (depth_ > 0) {
            --depth_;
        }
    }

    void Handle(const yaml_event_t& event) {
        switch (event.type) {
        case YAML_STREAM_START_EVENT:
        case YAML_STREAM_END_EVENT:
        case YAML_DOCUMENT_END_EVENT:
        case YAML_NO_EVENT:
            return;
        case YAML_DOCUMENT_START_EVENT:
            // A second document: the first one has produced the value (or, when it was empty,
            // consumed the root), so the reader cannot take another.
            if (documentSeen_) {
                Fail(kMultiDocument);
            }
            documentSeen_ = true;
            return;
        default:
            break;
        }
        if (depth_ == 0) {
            // Only reachable after the root is complete, i.e. in a further document.
            Fail(kMultiDocument);
            return;
        }

        // Select the target. A fresh target is a new element or the member of the pending key:
        // a value slot, whatever an earlier value of a repeated key left in it. Otherwise the
        // target is the current node itself: the root value before anything was read, a mapping
        // expecting a key, or a sequence at its end.
        BindingProperty* current = nodes_[depth_ - 1].target;
        BindingProperty* target = current;
        bool fresh = false;
        if (current->Kind() == BindingKind::Collection && event.type != YAML_SEQUENCE_END_EVENT) {
            const std::size_t index = current->Size();
            if (index >= DecodeLimits::kMaxCollectionElements) {
                Fail(FormatMessage(kTooManyElements, DecodeLimits::kMaxCollectionElements,
                                   Line(event), Column(event)));
                return;
            }
            target = &current->Append();
            OpenNode& node = Push(target);
            node.step.isIndex = true;
            node.step.index = index;
            // The entry may have held a member before: its name must not travel with the index
            // into the path table, where it would cost memory and alias path budget.
            node.step.name.clear();
            fresh = true;
        } else if (current->Kind() == BindingKind::Structure && hasPendingKey_) {
            target = &names_.Member(*current, std::string_view(pendingKey_));
            OpenNode& node = Push(target);
            node.step.isIndex = false;
            node.step.name.swap(pendingKey_);
            pendingKey_.clear();
            hasPendingKey_ = false;
            fresh = true;
        }
        const bool keyExpected = !fresh && target->Kind() == BindingKind::Structure;

        switch (event.type) {
        case YAML_SCALAR_EVENT:
            HandleScalar(event, *target, keyExpected);
            return;
        case YAML_SEQUENCE_START_EVENT:
        case YAML_MAPPING_START_EVENT:
            HandleContainerStart(event, *target, keyExpected);
            return;
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT:
            Pop();
            return;
        case YAML_ALIAS_EVENT:
            HandleAlias(event, *target, keyExpected);
            return;
        default:
            return;
        }
    }

    void HandleScalar(const yaml_event_t& event, BindingProperty& target, bool keyExpected) {
        const auto& scalar = event.data.scalar;
        const char* text = reinterpret_cast<const char*>(scalar.value);
        const char* tag = reinterpret_cast<const char*>(scalar.tag);
        const char* anchor = reinterpret_cast<const char*>(scalar.anchor);
        if (keyExpected) {
            if (tag != nullptr && std::strcmp(tag, YamlScalar::kStringTag) != 0) {
                Fail(FormatMessage(kInvalidKey, Line(event), Column(event)));
                return;
            }
            pendingKey_.assign(text, scalar.length);
            hasPendingKey_ = true;
            // The anchor names the key text. It is not attached to the mapping: the mapping was
            // opened under its own anchor (if any), which the cyclic-alias test must still see.
            if (anchor != nullptr) {
                RecordAnchor(event, anchor, &pendingKey_);
            }
            return;
        }
        const bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                            scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
        std::string message;
        if (!YamlScalar::ConvertScalar(target, tag, text, scalar.length, quoted, message)) {
            Fail(message);
            return;
        }
        if (anchor != nullptr && !RecordAnchor(event, anchor, nullptr)) {
            return;
        }
        Pop();
    }

    void HandleContainerStart(const yaml_event_t& event, BindingProperty& target,
                              bool keyExpected) {
        const bool sequence = event.type == YAML_SEQUENCE_START_EVENT;
        if (keyExpected) {
            Fail(FormatMessage(sequence ? kSequenceStart : kMappingStart, Line(event),
                               Column(event)));
            return;
        }
        // Every entry below the top is an open container, so the new one is at level depth_.
        if (depth_ > DecodeLimits::kMaxNestingDepth) {
            Fail(FormatMessage(kTooDeep, DecodeLimits::kMaxNestingDepth, Line(event),
                               Column(event)));
            return;
        }
        const yaml_char_t* anchor = nullptr;
        if (sequence) {
            target.MakeCollection();
            anchor = event.data.sequence_start.anchor;
        } else {
            target.MakeStructure();
            anchor = event.data.mapping_start.anchor;
        }
        if (anchor != nullptr) {
            RecordAnchor(event, reinterpret_cast<const char*>(anchor), nullptr);
        }
    }

    // Records an anchor: with `keyText` the text of an anchored key, otherwise the path of the
    // node on top of the stack, which is then opened under the anchor.
    bool RecordAnchor(const yaml_event_t& event, const char* name, const std::string* keyText) {
        auto [entry, inserted] = anchors_.try_emplace(name);
        if (!inserted) {
            Fail(FormatMessage(kDuplicateAnchor, name, Line(event), Column(event)));
            return false;
        }
        Anchor& anchor = entry->second;
        if (keyText != nullptr) {
            anchor.isText = true;
            anchor.text = *keyText;
            return true;
        }
        anchor.path = PathOfTop();
        nodes_[depth_ - 1].anchor = name;
        return true;
    }

    // The path table entry of the node on top of the stack, adding entries for the open nodes
    // that have none yet. The root entry always has one (kRootPath), so the search ends there.
    std::size_t PathOfTop() {
        std::size_t first = depth_ - 1;
        while (nodes_[first].path == kNoPathYet) {
            --first;
        }
        for (std::size_t i = first + 1; i < depth_; ++i) {
            pathNodes_.push_back(PathNode{nodes_[i - 1].path, nodes_[i].step});
            nodes_[i].path = pathNodes_.size() - 1;
        }
        return nodes_[depth_ - 1].path;
    }

    // The value at a path table entry, followed from the root as the tree stands now (a later
    // repeated key may have replaced what the anchor named). Null, with the reader failed, once
    // the aliases' paths exceed their budget.
    const BindingProperty* Follow(std::size_t path, const yaml_event_t& event, const char* name) {
        steps_.clear();
        std::uint64_t cost = 0;
        for (std::size_t at = path; at != kRootPath; at = pathNodes_[at].parent) {
            steps_.push_back(&pathNodes_[at].step);
            cost += DecodeLimits::kAliasPathStepBytes + pathNodes_[at].step.name.size();
        }
        aliasPathBytes_ += cost;
        if (aliasPathBytes_ > DecodeLimits::kMaxAliasPathBytes) {
            Fail(FormatMessage(kAliasPathExpansion, DecodeLimits::kMaxAliasPathBytes, name,
                               Line(event), Column(event)));
            return nullptr;
        }
        const BindingProperty* source = &result_.value;
        for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
            source = (*step)->isIndex ? &std::as_const(*source).Element((*step)->index)
                                      : &std::as_const(*source).Member((*step)->name);
        }
        return source;
    }

    void HandleAlias(const yaml_event_t& event, BindingProperty& target, bool keyExpected) {
        if (keyExpected) {
            // An alias as a mapping key has no defined meaning here.
            Fail(FormatMessage(kInvalidKey, Line(event), Column(event)));
            return;
        }
        const char* name = reinterpret_cast<const char*>(event.data.alias.anchor);
        for (std::size_t i = 0; i < depth_; ++i) {
            if (nodes_[i].anchor == name) {
                Fail(FormatMessage(kCyclicAlias, name, Line(event), Column(event)));
                return;
            }
        }
        const auto found = anchors_.find(name);
        if (found == anchors_.end()) {
            Fail(FormatMessage(kUndefinedAlias, name, Line(event), Column(event)));
            return;
        }
        const Anchor& anchor = found->second;
        if (anchor.isText) {
            if (!ChargeAliasCopy(1, anchor.text.size(), event, name)) {
                return;
            }
            target.SetString(anchor.text);
            Pop();
            return;
        }

        const BindingProperty* source = Follow(anchor.path, event, name);
        if (source == nullptr) {
            return;
        }
        if (source != &target) {
            // The path may lead to an open node when a repeated key reused the anchored place;
            // copying a node into its own descendant is a cycle too.
            for (std::size_t i = 0; i + 1 < depth_; ++i) {
                if (nodes_[i].target == source) {
                    Fail(FormatMessage(kCyclicAlias, name, Line(event), Column(event)));
                    return;
                }
            }
            if (!ChargeAliasTree(*source, event, name)) {
                return;
            }
            // An earlier value of a repeated key may contain the source; copying within one
            // tree goes through a separate copy, so that case is safe too.
            target = *source;
        }
        Pop();
    }

    // Charges a copy of `nodes` nodes holding `bytes` bytes of text to the alias budgets; fails
    // once either is exceeded.
    bool ChargeAliasCopy(std::uint64_t nodes, std::uint64_t bytes, const yaml_event_t& event,
                         const char* name) {
        aliasCopiedNodes_ += nodes;
        aliasCopiedBytes_ += bytes;
        if (aliasCopiedNodes_ > DecodeLimits::kMaxAliasCopiedNodes) {
            Fail(FormatMessage(kAliasExpansion, DecodeLimits::kMaxAliasCopiedNodes, name,
                               Line(event), Column(event)));
            return false;
        }
        if (aliasCopiedBytes_ > DecodeLimits::kMaxAliasCopiedBytes) {
            Fail(FormatMessage(kAliasTextExpansion, DecodeLimits::kMaxAliasCopiedBytes, name,
                               Line(event), Column(event)));
            return false;
        }
        return true;
    }

    // Charges a copy of a whole tree: its nodes and the bytes of its strings and member names.
    // The copy lands in the node on top of the stack, so its containers count toward the nesting
    // limit from that level on, as if they had been written out there: otherwise aliases of
    // aliases would build trees far deeper than any document may be. Counted without recursion,
    // node by node, so that the walk ends as soon as a budget or the limit is exceeded.
    bool ChargeAliasTree(const BindingProperty& root, const yaml_event_t& event, const char* name) {
        walk_.clear();
        walk_.push_back(WalkEntry{&root, depth_});
        while (!walk_.empty()) {
            const WalkEntry entry = walk_.back();
            walk_.pop_back();
            const BindingProperty* node = entry.node;
            const bool container =
                node->Kind() == BindingKind::Collection || node->Kind() == BindingKind::Structure;
            if (container && entry.level > DecodeLimits::kMaxNestingDepth) {
                Fail(FormatMessage(kTooDeep, DecodeLimits::kMaxNestingDepth, Line(event),
                                   Column(event)));
                return false;
            }
            std::uint64_t bytes = 0;
            if (node->Kind() == BindingKind::String) {
                bytes = node->GetString().size();
            } else if (node->Kind() == BindingKind::Collection) {
                for (const BindingProperty& element : node->Elements()) {
                    walk_.push_back(WalkEntry{&element, entry.level + 1});
                }
            } else if (node->Kind() == BindingKind::Structure) {
                for (const auto member : node->Members()) {
                    bytes += member.name.size();
                    walk_.push_back(WalkEntry{&member.value, entry.level + 1});
                }
            }
            if (!ChargeAliasCopy(1, bytes, event, name)) {
                return false;
            }
        }
        return true;
    }

    // A node of a tree an alias copies, with the nesting level it will have once copied.
    struct WalkEntry {
        const BindingProperty* node;
        std::size_t level;
    };

    BindingResult result_;
    // Declared after the result: holds names of the result's tree.
    BindingNameCache names_;
    std::vector<OpenNode> nodes_;
    std::vector<PathNode> pathNodes_;
    std::vector<const PathStep*> steps_;
    std::size_t depth_ = 0;
    std::string pendingKey_;
    bool hasPendingKey_ = false;
    std::unordered_map<std::string, Anchor> anchors_;
    std::uint64_t aliasCopiedNodes_ = 0;
    std::uint64_t aliasCopiedBytes_ = 0;
    std::uint64_t aliasPathBytes_ = 0;
    std::vector<WalkEntry> walk_;
    bool documentSeen_ = false;
    bool failed_ = false;
};

} // namespace

BindingResult ReadYaml(const char* text, std::size_t length) {
    Reader reader;
    return reader.Run(text, length);
}

} // namespace Korvel
